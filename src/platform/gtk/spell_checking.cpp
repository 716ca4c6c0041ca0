// Spell checking through WebKit's own checker (Enchant, and the dictionaries the system has).
#include "platform/gtk/spell_checking.h"

#include <webkit/webkit.h>

#include <string>
#include <vector>

namespace lorvane::gtk {

namespace {

// The languages of the locale, most preferred first, as dictionary names: "ru_RU.UTF-8" and
// "ru_RU@euro" become "ru_RU"; the C locale names no language.
std::vector<std::string> localeLanguages() {
    std::vector<std::string> languages;
    for (const gchar* const* name = g_get_language_names(); *name; ++name) {
        std::string language(*name);
        language = language.substr(0, language.find_first_of(".@"));
        if (language.empty() || language == "C" || language == "POSIX") continue;
        languages.push_back(language);
    }
    return languages;
}

// WebKit keeps those of `languages` it found a dictionary for (none given: a default of its own);
// true if one of them is there.
bool checkIn(WebKitWebContext* context, const std::vector<std::string>& languages) {
    if (languages.empty()) return false;
    std::vector<const char*> names;
    for (const std::string& language : languages) names.push_back(language.c_str());
    names.push_back(nullptr);
    webkit_web_context_set_spell_checking_languages(context, names.data());
    const gchar* const* loaded = webkit_web_context_get_spell_checking_languages(context);
    for (const gchar* const* name = loaded; name && *name; ++name) {
        if (g_strv_contains(names.data(), *name)) return true;
    }
    return false;
}

}  // namespace

void enableSpellCheckingOnce() {
    static bool enabled = false;
    if (enabled) return;
    enabled = true;
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_set_spell_checking_enabled(context, TRUE);
    // The app's users write Russian, and English besides.
    if (!checkIn(context, localeLanguages())) checkIn(context, {"ru_RU", "en_US"});
}

}  // namespace lorvane::gtk
