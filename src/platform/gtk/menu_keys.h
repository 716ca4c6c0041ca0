// Pure translation of the portable menu's key equivalents into GTK's accelerator text.
// Header-only and free of toolkit headers, so the unit tests can check it without a display.
#pragma once

#include <optional>
#include <string>

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

}  // namespace lorvane::gtk
