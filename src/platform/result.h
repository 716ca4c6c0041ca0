// Failures as values: an operation that can fail returns a Result holding either its value (none
// for Result<void>) or a short reason. The core drops the reason at the call site; tests and
// diagnostics may read it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace lorvane {

struct Failure {
    std::string reason;
};

template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<T>(state_); }
    const T& value() const { return std::get<T>(state_); }
    const T* operator->() const { return &value(); }
    const std::string& reason() const { return std::get<Failure>(state_).reason; }

private:
    std::variant<T, Failure> state_;
};

template <>
class Result<void> {
public:
    Result() = default;  // success
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return !failure_; }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return failure_->reason; }

private:
    std::optional<Failure> failure_;
};

}  // namespace lorvane
