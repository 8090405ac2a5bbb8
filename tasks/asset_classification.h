// Which folder of the game client's development directory an extracted item belongs in, decided
// from its name alone by a fixed table of rules.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ClassificationRule {
    const wchar_t* pattern;      // the prefix, or the whole name, to compare
    const wchar_t* destination;  // relative to the development directory, "\" separated
    const wchar_t* suffix;       // an ending the whole name must also have, or null
    bool prefixMatch;            // true: pattern is a prefix; false: pattern is the whole name
};

constexpr size_t kClassificationRuleCount = 14;
// Tried in order; the first match decides.
extern const ClassificationRule kClassificationRules[kClassificationRuleCount];

// Whether `name` ends with `ending`, ignoring case; an empty ending always matches.
bool EndsWithNoCase(const std::wstring& name, const std::wstring& ending);

// The full destination directory for an entry named `name` (no directory part), or an empty text
// when no rule applies. After the table, names ending ".map" go to devDir\scene\map and names
// ending ".mp3" to devDir\mp3. A whole-name rule compares a directory's whole name but a file's
// name without its last extension.
std::wstring ClassifyAsset(const std::wstring& devDir, const std::wstring& name, bool isDirectory);

// Every folder ClassifyAsset can return for `devDir`, each once.
std::vector<std::wstring> ClassificationFolders(const std::wstring& devDir);
