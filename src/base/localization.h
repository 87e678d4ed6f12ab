// Localised strings: a user-facing text is looked up by its English key. Without a
// translation for the key, the key itself is the text.
#pragma once

#include <map>
#include <string>

// Replaces the translation table (key -> text). An empty table restores plain English.
void setTranslationTable(std::map<std::string, std::string> table);

// The text to show for `key`.
std::string localizedString(const std::string& key);
