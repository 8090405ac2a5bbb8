#include "tasks/task_name.h"

#include "base/text_convert.h"
#include "base/text_util.h"

#include <cwctype>

namespace {

constexpr wchar_t kReplacement = L'_';

bool IsForbiddenChar(wchar_t ch) {
    if (ch < 0x20 || ch == 0x7F) {
        return true;
    }
    switch (ch) {
        case L'<':
        case L'>':
        case L':':
        case L'"':
        case L'/':
        case L'\\':
        case L'|':
        case L'?':
        case L'*':
            return true;
        default:
            return false;
    }
}

wchar_t AsciiUpper(wchar_t ch) {
    return (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - L'a' + L'A') : ch;
}

// Windows treats these as devices whatever extension follows ("nul.zip" is still NUL), and
// ignores trailing spaces before the extension ("CON .txt").
bool IsReservedDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (wchar_t& ch : base) {
        ch = AsciiUpper(ch);
    }
    static const wchar_t* const kPlain[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* reserved : kPlain) {
        if (base == reserved) {
            return true;
        }
    }
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        const wchar_t digit = base[3];
        // Superscript one, two and three count as digits to the device name parser.
        return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
               digit == L'\u00B3';
    }
    return false;
}

void TrimTrailingDotsAndSpaces(std::wstring& name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) {
        name.pop_back();
    }
}

}  // namespace

std::string CleanTaskName(const std::string& utf8Name) {
    std::wstring name = Utf8ToWide(utf8Name);
    for (wchar_t& ch : name) {
        if (IsForbiddenChar(ch)) {
            ch = kReplacement;
        }
    }
    const size_t firstNonSpace = name.find_first_not_of(L' ');
    name.erase(0, firstNonSpace == std::wstring::npos ? name.size() : firstNonSpace);
    if (name.size() > kMaxTaskNameChars) {
        size_t cut = kMaxTaskNameChars;
        if (IsHighSurrogate(name[cut - 1])) {
            --cut;
        }
        name.resize(cut);
    }
    TrimTrailingDotsAndSpaces(name);
    if (name.empty()) {
        return kFallbackTaskName;
    }
    if (IsReservedDeviceName(name)) {
        name.insert(name.begin(), kReplacement);
    }
    return WideToUtf8(name);
}
