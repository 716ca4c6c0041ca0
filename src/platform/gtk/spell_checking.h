// Spelling checked as the user types in the page's text fields.
#pragma once

namespace lorvane::gtk {

// Turns spell checking on for every web view of the process, once: in the languages of the user's
// locale that have a dictionary installed, else in Russian and English, whichever of those have
// one. Loading dictionaries takes tens of milliseconds of the main thread, so this waits until a
// page the user can type into has loaded. Main thread.
void enableSpellCheckingOnce();

}  // namespace lorvane::gtk
