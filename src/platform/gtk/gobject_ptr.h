// Owning smart pointers for GLib objects, so backend code never pairs refs and unrefs by hand.
#pragma once

#include <glib-object.h>

#include <utility>

namespace lorvane::gtk {

// Holds one strong reference to a GObject and drops it on destruction. `adopt` takes over a
// reference the caller already owns (the usual result of *_new); `retain` adds one of its own.
// Floating references (fresh widgets) are sunk by `retain`, so the holder is a real owner.
template <class T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    static GObjectPtr adopt(T* object) { return GObjectPtr(object); }
    static GObjectPtr retain(T* object) {
        if (object) g_object_ref_sink(G_OBJECT(object));
        return GObjectPtr(object);
    }

    GObjectPtr(const GObjectPtr& other) : object_(other.object_) {
        if (object_) g_object_ref(G_OBJECT(object_));
    }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectPtr() { reset(); }

    void reset() {
        if (object_) g_object_unref(G_OBJECT(std::exchange(object_, nullptr)));
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit GObjectPtr(T* object) : object_(object) {}
    T* object_ = nullptr;
};

// Frees a GError on scope exit; pass `out()` where GLib wants a GError**.
class GErrorHolder {
public:
    GErrorHolder() = default;
    GErrorHolder(const GErrorHolder&) = delete;
    GErrorHolder& operator=(const GErrorHolder&) = delete;
    ~GErrorHolder() { g_clear_error(&error_); }
    GError** out() { return &error_; }
    GError* get() const { return error_; }
    explicit operator bool() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
};

}  // namespace lorvane::gtk
