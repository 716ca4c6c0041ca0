// Pure translation of the portable menu's key equivalents and actions into GTK's textual forms.
// Header-only and free of toolkit headers, so the unit tests can check it without a display.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/gtk/key_chords.h"
#include "platform/menu.h"

namespace lorvane::gtk {

// The GTK accelerator for `item` ("<Control>q", "<Control><Shift>z", "<Alt><Shift>v"), or absent
// when the item has no shortcut: the text GTK shows beside the item in the menu. Every item's key
// is a letter; a key GTK's accelerator parser would need a keysym name for shows no text (the
// shortcut handler still matches it, key_chords.h).
inline std::optional<std::string> acceleratorFor(const MenuItem& item) {
    const auto chord = chordFor(item);
    const auto isNamedByItself = [](char key) { return (key >= 'a' && key <= 'z') || (key >= '0' && key <= '9'); };
    if (!chord || !isNamedByItself(chord->key)) return std::nullopt;
    std::string accelerator;
    if (chord->control) accelerator += "<Control>";
    if (chord->alt) accelerator += "<Alt>";
    if (chord->shift) accelerator += "<Shift>";
    return accelerator + chord->key;
}

// The action's part of a GAction name (letters, digits and '-' only, as GAction names must be).
inline std::string_view actionIdFor(MenuAction action) {
    switch (action) {
        case MenuAction::About: return "about";
        case MenuAction::CheckForUpdates: return "check-for-updates";
        case MenuAction::Hide: return "hide";
        case MenuAction::Quit: return "quit";
        case MenuAction::Undo: return "undo";
        case MenuAction::Redo: return "redo";
        case MenuAction::Cut: return "cut";
        case MenuAction::Copy: return "copy";
        case MenuAction::Paste: return "paste";
        case MenuAction::SelectAll: return "select-all";
        case MenuAction::OpenVoiceNotes: return "open-voice-notes";
        case MenuAction::Minimize: return "minimize";
        case MenuAction::Zoom: return "zoom";
    }
    return "unknown";  // not reached: the switch names every action
}

// The GAction name of a menu item, distinct for the two targets so an app command can never
// collide with a standard action of the same kind: "std-copy" for copy sent down the responder
// chain, "app-open-voice-notes" for the delegate's command. Separators have none.
inline std::string actionNameFor(const MenuItem& item) {
    if (item.isSeparator()) return {};
    const std::string_view prefix = item.target == MenuTarget::AppDelegate ? "app-" : "std-";
    return std::string(prefix) + std::string(actionIdFor(*item.action));
}

}  // namespace lorvane::gtk
