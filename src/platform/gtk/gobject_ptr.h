// Ownership of GLib objects and of the records handed to GLib, so backend code never pairs refs
// and unrefs, or news and deletes, by hand. Locals use g_autoptr and g_autofree; members and
// values that travel use the holders here.
#pragma once

#include <glib-object.h>

#include <memory>
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

// The unref of each reference-counted GLib type that is not a GObject and is kept beyond one scope.
struct GLibUnref {
    void operator()(GMainContext* context) const { g_main_context_unref(context); }
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
    void operator()(GSource* source) const { g_source_unref(source); }
};

// Sole owner of one reference to a GMainContext, GMainLoop or GSource.
template <class T>
using GLibPtr = std::unique_ptr<T, GLibUnref>;

// A record handed to GLib as callback data: GLib owns it from here until the callback adopts it
// back with `adoptFromGLib`, or until the source or operation ends and calls `destroyOwned`.
template <class T>
gpointer releaseToGLib(std::unique_ptr<T> record) {
    return record.release();
}

template <class T>
std::unique_ptr<T> adoptFromGLib(gpointer data) {
    return std::unique_ptr<T>(static_cast<T*>(data));
}

// A GDestroyNotify for records released with `releaseToGLib`.
template <class T>
void destroyOwned(gpointer data) {
    adoptFromGLib<T>(data);
}

}  // namespace lorvane::gtk
