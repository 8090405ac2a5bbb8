// Download links as the page sends them, turned into tasks by HandleDownloadUrl: parsing, the name
// a task gets, and which pages count as the site.
#include "webhost/download_links.h"

#include "base/text_convert.h"
#include "base/window_messages.h"
#include "state/app_state.h"
#include "state/config.h"
#include "tasks/task_runner.h"
#include "webhost/site.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cwctype>
#include <string>
#include <vector>

namespace {

std::vector<DownloadTask> g_started;  // the record each started worker found in the table

// Runs on the calling thread: the task must already be in the table and the table lock free.
void RecordStart(const TaskRef& ref) {
    DownloadTask task;
    EXPECT_TRUE(CopyTask(ref, &task));
    g_started.push_back(task);
}

class DownloadLinks : public ::testing::Test {
  protected:
    void SetUp() override {
        sink_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        g_hDownloadWnd.store(sink_);
        SetTaskThreadLauncherForTesting(RecordStart);
        g_started.clear();
    }
    void TearDown() override {
        ClearTasks();
        SetTaskThreadLauncherForTesting(nullptr);
        g_hDownloadWnd.store(nullptr);
        DestroyWindow(sink_);
    }
    // wParams of the WM_TASK_UPDATE messages posted so far.
    std::vector<WPARAM> Notifications() {
        std::vector<WPARAM> seen;
        MSG message;
        while (PeekMessageW(&message, sink_, WM_TASK_UPDATE, WM_TASK_UPDATE, PM_REMOVE)) {
            seen.push_back(message.wParam);
        }
        return seen;
    }
    HWND sink_ = nullptr;
};

// "<dir>\<name>_YYYYMMDD_HHMMSS.zip"
bool IsSavePathFor(const std::wstring& path, const std::string& name) {
    const std::wstring head = GetConfig().downloadDir + L"\\" + Utf8ToWide(name) + L"_";
    if (path.size() != head.size() + 15 + 4 || path.compare(0, head.size(), head) != 0 ||
        path.compare(path.size() - 4, 4, L".zip") != 0) {
        return false;
    }
    for (size_t i = head.size(); i < head.size() + 15; ++i) {
        if (i - head.size() == 8 ? path[i] != L'_' : !std::iswdigit(path[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST_F(DownloadLinks, EachLinkMakesAtMostOnePendingTaskWithItsDecodedValues) {
    struct Case {
        const wchar_t* link;
        bool makesTask;
        std::string url, name, category;
    };
    const Case cases[] = {
        {L"tarndownload://download?url=%2Fa%2Fpack.rar", true, "/a/pack.rar", "pack", ""},
        {L"tarndownload://download?url=http%3A%2F%2Fh%2Fp.zip&name=%E7%B4%A0%E6%9D%90&cat=anim", true,
         "http://h/p.zip", "\xE7\xB4\xA0\xE6\x9D\x90", "anim"},
        {L"tarndownload://download?url=a&url=b&name=one&name=two", true, "b", "two", ""},
        {L"tarndownload://download?url=a+b%2&name=x+y%&cat=%", true, "a b%2", "x y%", "%"},
        {L"tarndownload://download?junk&&url=u&name&=v&cat=c=d&", true, "u", "download", "c=d"},
        {L"tarndownload://download?url=http://h/f.tar.gz?k=v", true, "http://h/f.tar.gz?k=v", "f.tar", ""},
        {L"tarndownload://download?url=http://h/p.zip&name=\u7d20\u6750", true, "http://h/p.zip",
         "\xE7\xB4\xA0\xE6\x9D\x90", ""},
        // A link's name is part of paths: it is cleaned like every task name.
        {L"tarndownload://download?url=http://h/p.zip&name=..%5C..%5CStartup%5Cx", true, "http://h/p.zip",
         ".._.._Startup_x", ""},
        {L"tarndownload://download?url=http://h/p.zip&name=..", true, "http://h/p.zip", "download", ""},
        {L"tarndownload://download?url=http://h/C:%5Cx%5CCON", true, "http://h/C:\\x\\CON", "C__x_CON", ""},
        {L"tarndownload://download/?url=http://h/p.zip", false, "", "", ""},
        {L"tarndownload://Download?url=http://h/p.zip", false, "", "", ""},
        {L"tarndownload://download", false, "", "", ""},
        {L"tarndownload://downloads?url=http://h/p.zip", false, "", "", ""},
        {L"tarndownload://download?name=n&cat=c", false, "", "", ""},
        {L"tarndownload://download?url=&name=n", false, "", "", ""},
        {L"tarndownload://download?url", false, "", "", ""},
        {L"", false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.link));
        ClearTasks();
        SetTaskThreadLauncherForTesting(RecordStart);  // forgets the recorded starts' download turns
        g_started.clear();
        Notifications();
        HandleDownloadUrl(c.link);
        const std::vector<DownloadTask> tasks = SnapshotTasks();
        if (!c.makesTask) {
            EXPECT_TRUE(tasks.empty());
            EXPECT_TRUE(g_started.empty());
            EXPECT_TRUE(Notifications().empty());
            continue;
        }
        ASSERT_EQ(tasks.size(), 1u);
        const DownloadTask& task = tasks[0];
        EXPECT_EQ(task.url, c.url);
        EXPECT_EQ(task.name, c.name);
        EXPECT_EQ(task.category, c.category);
        EXPECT_TRUE(IsSavePathFor(task.filePath, c.name)) << WideToUtf8(task.filePath);
        EXPECT_EQ(task.status, TaskStatus::Pending);
        EXPECT_EQ(task.progress, 0);
        EXPECT_FALSE(task.hasFinishTime);
        EXPECT_TRUE(task.extractDir.empty() && task.copyDestDir.empty() && task.copyFirstItem.empty() &&
                    task.leftoverDir.empty() && task.error.empty());
        ASSERT_EQ(g_started.size(), 1u);
        EXPECT_EQ(g_started[0].filePath, task.filePath);
        EXPECT_EQ(Notifications(), std::vector<WPARAM>{static_cast<WPARAM>(-1)});
    }

    // No duplicate check on this road: the same link twice is two tasks, each with its worker.
    ClearTasks();
    g_started.clear();
    HandleDownloadUrl(L"tarndownload://download?url=http://h/p.zip&name=p");
    HandleDownloadUrl(L"tarndownload://download?url=http://h/p.zip&name=p");
    EXPECT_EQ(SnapshotTasks().size(), 2u);
    EXPECT_EQ(g_started.size(), 2u);
}

TEST(FileNameFromUrl, LastSegmentWithoutQueryAndExtension) {
    const struct {
        const char* url;
        const wchar_t* name;
    } cases[] = {
        {"http://h/a/pack.rar", L"pack"},
        {"http://h/dir/", L"download"},
        {"http://h/dir/?x=1", L"download"},
        {"no-slash.zip", L"download"},
        {"", L"download"},
        {"http://h/.hidden", L".hidden"},
        {"http://h/a.tar.gz", L"a.tar"},
        {"http://h/pack?v=2.1", L"pack"},
        {"http://h/\xE7\xB4\xA0\xE6\x9D\x90.7z", L"\u7d20\u6750"},
        {"http://h/%E7%B4%A0.zip", L"%E7%B4%A0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileNameFromUrl(c.url), c.name) << c.url;
    }
}

TEST(IsSitePageAddress, OnlyTheSiteHostOrItsSubdomainsOverHttp) {
    const std::string site = kSiteHostName;
    std::string upperSite = site;
    for (char& ch : upperSite) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    const struct {
        std::string address;
        bool isSite;
    } cases[] = {
        {"http://" + site + "/", true},
        {"https://" + site + ":8443/assets?id=1", true},
        {"HTTPS://" + upperSite + "/", true},
        {"http://cdn." + site + "/list", true},
        {"http://user@" + site + "/", true},
        {"http://" + site, true},
        {"http://evil" + site + "/", false},
        {"http://" + site + ".evil.test/", false},
        {"http://evil.test/?next=http://" + site + "/", false},
        {"http://evil.test/" + site, false},
        {"http://" + site + "@evil.test/", false},
        {"http://evil.test\\@" + site + "/", false},
        {"file:///C:/" + site + "/page.html", false},
        {"ftp://" + site + "/", false},
        {"about:blank", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSitePageAddress(Utf8ToWide(c.address)), c.isSite) << c.address;
    }
}
