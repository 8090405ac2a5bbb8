// Download links of the page: "tarndownload://download?url=...&name=...&cat=...". The parsing is
// plain functions; HandleDownloadUrl turns a parsed link into a running task.
#pragma once

#include <string>

// The scheme every download link starts with, compared case-sensitively.
constexpr const wchar_t* kDownloadLinkPrefix = L"tarndownload://";

// The three values a link carries, decoded to UTF-8.
struct DownloadLink {
    std::string url;
    std::string name;  // as sent; empty when the link gives none
    std::string category;
};

// True when `text` begins with kDownloadLinkPrefix.
bool IsDownloadLink(const std::wstring& text);

// The prefix (when present) is dropped; the rest must be exactly "download", "?" and a query whose
// "&"-separated key=value pairs are URL-decoded (pairs without "=" skipped, the last value of a key
// wins). False when the form does not match or "url" is missing or empty.
bool ParseDownloadLink(const std::wstring& link, DownloadLink* parsed);

// A task name for an address without one: its last path segment without query and extension
// (a leading dot is not an extension); "download" when that leaves nothing or there is no "/".
std::wstring FileNameFromUrl(const std::string& url);

// UI thread. Makes a Pending task from the link (name cleaned like every task name, derived from
// the address when missing), shows the download window, starts the task's worker and tells the
// task list. A link that does not parse does nothing; there is no duplicate check.
void HandleDownloadUrl(const std::wstring& link);
