#include "tasks/range_reply.h"

#include "base/text_convert.h"
#include "tasks/http_get.h"

#include <winhttp.h>

#include <cwchar>

namespace {

// Only a 2xx reply carries the file. A redirect WinHTTP hands back instead of following (its
// default policy refuses https to http) must not be saved as the archive, nor a 204 or 205, which
// by definition carry no body.
constexpr std::uint32_t kFirstSuccessStatus = 200;
constexpr std::uint32_t kLastSuccessStatus = 299;
constexpr std::uint32_t kNoContentStatus = 204;
constexpr std::uint32_t kResetContentStatus = 205;
constexpr std::uint32_t kPartialContentStatus = 206;
constexpr std::uint32_t kRangeNotSatisfiableStatus = 416;
// Longest ETag or date kept for the next attempt; a longer one is not used.
constexpr size_t kMaxValidatorChars = 256;

// "bytes <first>-<last>/<total>", "bytes <first>-<last>/*" or "bytes */<total>".
struct ContentRange {
    bool hasFirst = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool hasTotal = false;
    std::uint64_t total = 0;
};

// Reads decimal digits at *p into *value; false when there are none or too many for 64 bits.
bool ReadNumber(const wchar_t*& p, std::uint64_t* value) {
    constexpr int kMaxDigits = 19;
    int digits = 0;
    std::uint64_t number = 0;
    while (*p >= L'0' && *p <= L'9') {
        if (++digits > kMaxDigits) {
            return false;
        }
        number = number * 10 + static_cast<std::uint64_t>(*p - L'0');
        ++p;
    }
    *value = number;
    return digits > 0;
}

bool ParseContentRange(const std::wstring& text, ContentRange* range) {
    const wchar_t* p = text.c_str();
    if (wcsncmp(p, L"bytes ", 6) != 0) {
        return false;
    }
    p += 6;
    if (*p == L'*') {
        ++p;
    } else {
        if (!ReadNumber(p, &range->first) || *p != L'-') {
            return false;
        }
        ++p;
        if (!ReadNumber(p, &range->last) || range->last < range->first) {
            return false;
        }
        range->hasFirst = true;
    }
    if (*p != L'/') {
        return false;
    }
    ++p;
    if (*p == L'*') {
        ++p;
    } else {
        if (!ReadNumber(p, &range->total)) {
            return false;
        }
        range->hasTotal = true;
    }
    return *p == L'\0' && (range->hasFirst || range->hasTotal);
}

// A validator goes back to the server in a header of its own, so only printable ASCII is kept: a
// line break in it would let a server make the program send headers of its choosing.
bool IsSafeValidator(const std::wstring& text) {
    if (text.empty() || text.size() > kMaxValidatorChars) {
        return false;
    }
    for (const wchar_t ch : text) {
        if (ch < 0x20 || ch > 0x7E) {
            return false;
        }
    }
    return true;
}

bool ReadContentRange(HINTERNET request, ContentRange* range) {
    std::wstring text;
    return QueryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE, &text) && ParseContentRange(text, range);
}

// The reply names the body by the validator the request sent: its strong ETag or its date.
bool CarriesValidator(HINTERNET request, const std::string& validator) {
    const std::wstring expected = Utf8ToWide(validator);
    std::wstring text;
    if (QueryHeaderText(request, WINHTTP_QUERY_ETAG, &text) && text == expected &&
        text.rfind(L"W/", 0) != 0) {
        return true;
    }
    return QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED, &text) && text == expected;
}

bool IsBodyStatus(std::uint32_t status) {
    return status >= kFirstSuccessStatus && status <= kLastSuccessStatus && status != kNoContentStatus &&
           status != kResetContentStatus;
}

}  // namespace

RangeReply ReadRangeReply(HINTERNET request, std::uint32_t status, const RangeRequest& asked,
                          std::uint64_t* total) {
    const std::uint64_t offset = asked.offset;
    if (offset > 0 && status == kPartialContentStatus) {
        // The rest of the body, exactly: from the file's size to the body's end, and the length the
        // reply announces must be that of the range.
        ContentRange range;
        std::uint64_t length = 0;
        const bool lengthKnown = QueryContentLength(request, &length);
        if (!ReadContentRange(request, &range) || !range.hasFirst || range.first != offset ||
            (range.hasTotal && range.last + 1 != range.total) ||
            (lengthKnown && length != range.last + 1 - range.first)) {
            return RangeReply::WrongRange;
        }
        // A server that ignores If-Range sends a range of whatever body it has now; only the same
        // validator and the same whole length show that the rest belongs to the bytes on disk.
        if (!range.hasTotal || range.total != asked.total || !CarriesValidator(request, asked.validator)) {
            return RangeReply::StartOver;
        }
        *total = range.total;
        return RangeReply::Append;
    }
    if (offset > 0 && status == kRangeNotSatisfiableStatus) {
        ContentRange range;
        if (ReadContentRange(request, &range) && !range.hasFirst && range.hasTotal && range.total == offset &&
            offset == asked.total) {
            return RangeReply::FileIsWhole;
        }
        return RangeReply::StartOver;
    }
    // A part of a body is never the whole of it.
    if (offset == 0 && status == kPartialContentStatus) {
        return RangeReply::Refused;
    }
    return IsBodyStatus(status) ? RangeReply::WholeBody : RangeReply::Refused;
}

// If-Range takes only a strong entity tag; a weak one ("W/...") is a reason to use the date.
std::string ReadResumeValidator(HINTERNET request) {
    std::wstring text;
    if (QueryHeaderText(request, WINHTTP_QUERY_ETAG, &text) && text.rfind(L"W/", 0) != 0 &&
        IsSafeValidator(text)) {
        return WideToUtf8(text);
    }
    if (QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED, &text) && IsSafeValidator(text)) {
        return WideToUtf8(text);
    }
    return std::string();
}
