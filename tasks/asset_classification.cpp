#include "tasks/asset_classification.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

const ClassificationRule kClassificationRules[kClassificationRuleCount] = {
    {L"sfx_", L"anim\\effect", nullptr, true},       {L"hair_", L"anim\\hair", nullptr, true},
    {L"monster_", L"anim\\monster", nullptr, true},  {L"npc_", L"anim\\npc", nullptr, true},
    {L"player_", L"anim\\player", nullptr, true},    {L"weapon_", L"anim\\weapon", nullptr, true},
    {L"wings_", L"anim\\wings", nullptr, true},      {L"shield_", L"anim\\shield", nullptr, true},
    {L"obj", L"scene\\objects", L".png", true},      {L"smtiles", L"scene\\smtiles", L".png", true},
    {L"tiles", L"scene\\tiles", L".png", true},      {L"objects", L"scene\\objects", nullptr, false},
    {L"smtiles", L"scene\\smtiles", nullptr, false}, {L"tiles", L"scene\\tiles", nullptr, false},
};

namespace {

// Stored with their leading separator: appended to the development directory as they are.
constexpr const wchar_t* kMapEnding = L".map";
constexpr const wchar_t* kMapDestination = L"\\scene\\map";
constexpr const wchar_t* kMp3Ending = L".mp3";
constexpr const wchar_t* kMp3Destination = L"\\mp3";

bool StartsWithNoCase(const std::wstring& name, const wchar_t* prefix) {
    const size_t length = std::wcslen(prefix);
    if (name.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (std::towlower(name[i]) != std::towlower(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool EqualsNoCase(const std::wstring& text, const wchar_t* other) {
    return text.size() == std::wcslen(other) && StartsWithNoCase(text, other);
}

bool RuleMatches(const ClassificationRule& rule, const std::wstring& name, const std::wstring& baseName,
                 bool isDirectory) {
    if (rule.prefixMatch) {
        return StartsWithNoCase(name, rule.pattern) && (!rule.suffix || EndsWithNoCase(name, rule.suffix));
    }
    return EqualsNoCase(isDirectory ? name : baseName, rule.pattern);
}

}  // namespace

bool EndsWithNoCase(const std::wstring& name, const std::wstring& ending) {
    if (ending.size() > name.size()) {
        return false;
    }
    const size_t offset = name.size() - ending.size();
    for (size_t i = 0; i < ending.size(); ++i) {
        if (std::towlower(name[offset + i]) != std::towlower(ending[i])) {
            return false;
        }
    }
    return true;
}

std::wstring ClassifyAsset(const std::wstring& devDir, const std::wstring& name, bool isDirectory) {
    const size_t lastDot = name.rfind(L'.');
    const std::wstring baseName = lastDot == std::wstring::npos ? name : name.substr(0, lastDot);
    for (const ClassificationRule& rule : kClassificationRules) {
        if (RuleMatches(rule, name, baseName, isDirectory)) {
            return devDir + L"\\" + rule.destination;
        }
    }
    if (EndsWithNoCase(name, kMapEnding)) {
        return devDir + kMapDestination;
    }
    if (EndsWithNoCase(name, kMp3Ending)) {
        return devDir + kMp3Destination;
    }
    return std::wstring();
}

std::vector<std::wstring> ClassificationFolders(const std::wstring& devDir) {
    std::vector<std::wstring> folders = {devDir + kMapDestination, devDir + kMp3Destination};
    for (const ClassificationRule& rule : kClassificationRules) {
        const std::wstring folder = devDir + L"\\" + rule.destination;
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    return folders;
}
