#include "webhost/download_links.h"

#include "base/text_convert.h"
#include "base/url_query.h"
#include "base/win32.h"
#include "state/app_state.h"
#include "state/window_requests.h"
#include "tasks/task_creation.h"
#include "tasks/task_runner.h"
#include "webhost/browser_host_window.h"

#include <map>

namespace {

constexpr const wchar_t* kLinkAction = L"download";
constexpr const char* kDefaultFileName = "download";

std::string ValueOf(const std::map<std::string, std::string>& pairs, const char* key) {
    const auto it = pairs.find(key);
    return it == pairs.end() ? std::string() : it->second;
}

}  // namespace

bool IsDownloadLink(const std::wstring& text) {
    return text.compare(0, std::char_traits<wchar_t>::length(kDownloadLinkPrefix), kDownloadLinkPrefix) == 0;
}

bool ParseDownloadLink(const std::wstring& link, DownloadLink* parsed) {
    std::wstring rest = link;
    if (IsDownloadLink(rest)) {
        rest.erase(0, std::char_traits<wchar_t>::length(kDownloadLinkPrefix));
    }
    const size_t question = rest.find(L'?');
    if (question == std::wstring::npos || rest.compare(0, question, kLinkAction) != 0) {
        return false;
    }
    std::map<std::string, std::string> pairs;
    AddQueryPairs(WideToUtf8(rest.substr(question + 1)), &pairs);
    parsed->url = ValueOf(pairs, "url");
    parsed->name = ValueOf(pairs, "name");
    parsed->category = ValueOf(pairs, "cat");
    return !parsed->url.empty();
}

std::wstring FileNameFromUrl(const std::string& url) {
    const size_t slash = url.rfind('/');
    std::string name = slash == std::string::npos ? std::string(kDefaultFileName) : url.substr(slash + 1);
    name = name.substr(0, name.find('?'));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) {
        name.resize(dot);
    }
    if (name.empty()) {
        name = kDefaultFileName;
    }
    return Utf8ToWide(name);
}

void HandleDownloadUrl(const std::wstring& link) {
    DownloadLink parsed;
    if (!ParseDownloadLink(link, &parsed)) {
        return;
    }
    const std::string name = parsed.name.empty() ? WideToUtf8(FileNameFromUrl(parsed.url)) : parsed.name;
    SubmitTask(MakeDownloadTask(parsed.url, name, parsed.category));
    if (!g_hDownloadWnd.load()) {
        RequestShowDownloadWindow();
    }
    const HWND window = g_hDownloadWnd.load();
    if (window) {
        const HWND pageArea = GetDlgItem(window, kWebPageAreaId);
        if (pageArea) {
            ShowWindow(pageArea, SW_SHOW);
        }
    }
    NotifyTaskListChanged();
}
