// The menu's key equivalents on the main window: keys the page left alone, matched by physical key.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/menu.h"

namespace lorvane::gtk {

// Performs a menu item's action when its shortcut is pressed in a window this is attached to.
//
// The page sees every key first, as on the platform the menu model comes from: the handler sits
// in the window's bubble phase, which a key focused in the web view reaches only when WebKit
// hands back a keydown the page did not handle (no preventDefault, no editing command of
// WebKit's own ran), so WebKit's Ctrl+C in a text field never also runs the menu's Copy. WebKit
// re-dispatches such a key from the window down, capture phase included; nothing here acts in
// the capture phase, so a key is acted on once. Keys outside the web view (an empty window, the
// menu bar, an open menu) reach the handler directly. Keys are matched by the physical key's
// Latin letter whatever layout is active (key_chords.h).
//
// Everything runs on the main thread. Windows may outlive this object: their handlers then do
// nothing.
class GtkMenuShortcuts {
public:
    // `perform` carries out an item's action. It runs whether or not the item is greyed out: an
    // editing command goes to WebKit, which decides on its own current state, while the menu's
    // state may lag behind the page by a frame (a Ctrl+C right after Ctrl+A).
    explicit GtkMenuShortcuts(std::function<void(const MenuItem&)> perform);
    GtkMenuShortcuts(const GtkMenuShortcuts&) = delete;
    GtkMenuShortcuts& operator=(const GtkMenuShortcuts&) = delete;

    // The items whose key equivalents are live, replacing the earlier ones.
    void setItems(std::vector<MenuItem> items);
    void attach(GtkWindow* window);

    struct State;  // shared with the windows' handlers, which hold it weakly

private:
    std::shared_ptr<State> state_;
};

}  // namespace lorvane::gtk
