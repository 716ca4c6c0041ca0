// Key events to menu shortcuts: the keymap's entries for the pressed key, the modifiers held.
#include "platform/gtk/gtk_menu_shortcuts.h"

#include <deque>
#include <utility>

#include "platform/gtk/key_chords.h"

namespace lorvane::gtk {

namespace {

// Every entry of the keymap for `keycode` on the event's display.
std::vector<KeymapEntry> keymapEntries(GdkEvent* event, guint keycode) {
    GdkKeymapKey* keys = nullptr;
    guint* keyvals = nullptr;
    int count = 0;
    std::vector<KeymapEntry> entries;
    if (gdk_display_map_keycode(gdk_event_get_display(event), keycode, &keys, &keyvals, &count)) {
        for (int i = 0; i < count; ++i) entries.push_back({keys[i].group, keys[i].level, keyvals[i]});
    }
    g_free(keys);
    g_free(keyvals);
    return entries;
}

// One reference to a key event, so that its address names it for as long as it is kept.
struct HeldEvent {
    explicit HeldEvent(GdkEvent* held) : event(gdk_event_ref(held)) {}
    HeldEvent(HeldEvent&& other) noexcept : event(std::exchange(other.event, nullptr)) {}
    HeldEvent& operator=(HeldEvent&&) = delete;
    ~HeldEvent() {
        if (event) gdk_event_unref(event);
    }
    GdkEvent* event;
};

}  // namespace

struct GtkMenuShortcuts::State {
    std::function<void(const MenuItem&)> perform;
    std::vector<MenuItem> items;
    HeldModifierKeys heldModifiers;
    // The key events the modifier watch has taken in. WebKit dispatches a key the page did not
    // handle a second time, often after its release; the copy must not count as a new press.
    std::deque<HeldEvent> seen;

    bool alreadySeen(GdkEvent* event) {
        for (const HeldEvent& held : seen) {
            if (held.event == event) return true;
        }
        seen.emplace_back(event);
        if (seen.size() > 32) seen.pop_front();
        return false;
    }
};

namespace {

using WeakState = std::weak_ptr<GtkMenuShortcuts::State>;

GdkEvent* currentEvent(GtkEventControllerKey* controller) {
    return gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
}

gboolean watchPressed(GtkEventControllerKey* controller, guint keyval, guint keycode, GdkModifierType, gpointer data) {
    const auto state = static_cast<WeakState*>(data)->lock();
    GdkEvent* event = currentEvent(controller);
    if (!state || !event || state->alreadySeen(event)) return GDK_EVENT_PROPAGATE;
    const auto entries = keymapEntries(event, keycode);
    state->heldModifiers.pressed(keycode, unshiftedKeysym(entries, static_cast<int>(gdk_key_event_get_layout(event))),
                                 keyval);
    return GDK_EVENT_PROPAGATE;
}

void watchReleased(GtkEventControllerKey* controller, guint, guint keycode, GdkModifierType, gpointer data) {
    const auto state = static_cast<WeakState*>(data)->lock();
    GdkEvent* event = currentEvent(controller);
    if (!state || !event || state->alreadySeen(event)) return;
    state->heldModifiers.released(keycode);
}

gboolean shortcutPressed(GtkEventControllerKey* controller, guint, guint keycode, GdkModifierType modifiers,
                         gpointer data) {
    const auto state = static_cast<WeakState*>(data)->lock();
    GdkEvent* event = currentEvent(controller);
    if (!state || !event) return GDK_EVENT_PROPAGATE;
    // Super and Hyper belong to the desktop's own shortcuts; none of the menu's uses them.
    if (modifiers & (GDK_SUPER_MASK | GDK_HYPER_MASK)) return GDK_EVENT_PROPAGATE;
    const auto entries = keymapEntries(event, keycode);
    const auto key = shortcutKeyFor(keycode, static_cast<int>(gdk_key_event_get_layout(event)), entries);
    if (!key) return GDK_EVENT_PROPAGATE;
    const KeyModifiers held = state->heldModifiers.modifiers();
    const KeyChord chord{*key, (modifiers & GDK_CONTROL_MASK) != 0 || held.has(KeyModifier::Primary),
                         (modifiers & (GDK_ALT_MASK | GDK_META_MASK)) != 0 || held.has(KeyModifier::Alt),
                         (modifiers & GDK_SHIFT_MASK) != 0 || held.has(KeyModifier::Shift)};
    const MenuItem* item = itemForChord(state->items, chord);
    if (!item) return GDK_EVENT_PROPAGATE;
    const MenuItem chosen = *item;  // a copy: the action may replace the menu
    state->perform(chosen);
    return GDK_EVENT_STOP;
}

void deleteWeakState(gpointer data, GClosure*) { delete static_cast<WeakState*>(data); }

template <class Handler>
void connect(gpointer instance, const char* signal, Handler handler,
             const std::shared_ptr<GtkMenuShortcuts::State>& state) {
    g_signal_connect_data(instance, signal, G_CALLBACK(handler), new WeakState(state), deleteWeakState,
                          static_cast<GConnectFlags>(0));
}

GtkEventController* addKeyController(GtkWidget* widget, GtkPropagationPhase phase) {
    GtkEventController* controller = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(controller, phase);
    gtk_widget_add_controller(widget, controller);  // the widget takes the reference
    return controller;
}

// The watch only observes and lets every key through, so seeing a key twice does no harm.
void addControllers(GtkWidget* widget, const std::shared_ptr<GtkMenuShortcuts::State>& state) {
    GtkEventController* watch = addKeyController(widget, GTK_PHASE_CAPTURE);
    connect(watch, "key-pressed", watchPressed, state);
    connect(watch, "key-released", watchReleased, state);
    connect(addKeyController(widget, GTK_PHASE_BUBBLE), "key-pressed", shortcutPressed, state);
}

void windowActiveChanged(GtkWindow* window, GParamSpec*, gpointer data) {
    const auto state = static_cast<WeakState*>(data)->lock();
    if (state && !gtk_window_is_active(window)) state->heldModifiers.clear();
}

// An open menu takes the keyboard for itself: its keys go no further than its popover, so the
// popover gets the handlers too, the first time the focus moves into it.
void windowFocusChanged(GtkWindow* window, GParamSpec*, gpointer data) {
    const auto state = static_cast<WeakState*>(data)->lock();
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window));
    GtkWidget* popover = focus ? gtk_widget_get_ancestor(focus, GTK_TYPE_POPOVER) : nullptr;
    static const char* const kMark = "lorvane-menu-shortcuts";
    if (!state || !popover || g_object_get_data(G_OBJECT(popover), kMark)) return;
    g_object_set_data(G_OBJECT(popover), kMark, GINT_TO_POINTER(1));
    addControllers(popover, state);
}

}  // namespace

GtkMenuShortcuts::GtkMenuShortcuts(std::function<void(const MenuItem&)> perform)
    : state_(std::make_shared<State>()) {
    state_->perform = std::move(perform);
}

void GtkMenuShortcuts::setItems(std::vector<MenuItem> items) { state_->items = std::move(items); }

void GtkMenuShortcuts::attach(GtkWindow* window) {
    addControllers(GTK_WIDGET(window), state_);
    connect(window, "notify::is-active", windowActiveChanged, state_);
    connect(window, "notify::focus-widget", windowFocusChanged, state_);
}

}  // namespace lorvane::gtk
