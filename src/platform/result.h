// Failures as values: an operation that can fail returns a Result holding either its value or a
// short reason. The core drops the reason at the call site; tests and diagnostics may read it.
#pragma once

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
    const std::string& reason() const { return std::get<Failure>(state_).reason; }

private:
    std::variant<T, Failure> state_;
};

}  // namespace lorvane
