// Time to build the status page (and the tasks JSON) from a table of many tasks, in process.
// Run by hand under Wine: bench_api_page.exe [tasks] [rounds]
#include "api/api_routes.h"
#include "api/status_page.h"
#include "state/config.h"
#include "tasks/task_table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultTasks = 10000;
constexpr int kDefaultRounds = 50;

template <typename Build>
void Measure(const char* label, int rounds, Build build) {
    std::vector<double> times;
    size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const std::string text = build();
        const auto end = std::chrono::steady_clock::now();
        bytes = text.size();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-14s %8zu bytes  min %.3f ms  median %.3f ms  p99 %.3f ms  max %.3f ms\n", label, bytes,
                times.front(), times[times.size() / 2], times[(times.size() * 99) / 100], times.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int tasks = argc > 1 ? std::atoi(argv[1]) : kDefaultTasks;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : kDefaultRounds;
    // Settings of a scratch folder, so the bench never writes beside a real TarnDown.exe.
    wchar_t tempPath[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tempPath);
    const std::wstring scratch = std::wstring(tempPath) + L"tarn_api_bench";
    CreateDirectoryW(scratch.c_str(), nullptr);
    LoadConfigForExecutable(scratch + L"\\TarnDown.exe");
    for (int i = 0; i < tasks; ++i) {
        DownloadTask task;
        task.url = "http://assets.tarn.example/packs/" + std::to_string(i) + ".zip";
        task.name = "asset_pack_<" + std::to_string(i) + ">";
        task.category = "default";
        task.filePath = L"D:\\Downloads\\asset_pack_" + std::to_wstring(i) + L"_20261208_101010.zip";
        task.status = static_cast<TaskStatus>(i % 8);
        task.progress = i % 101;
        // A table from real use carries paths and, on failed tasks, an error text.
        if (task.status == TaskStatus::Failed) {
            task.error = "Connection failed";
        }
        AppendTask(task);
    }
    std::printf("%d tasks, %d rounds\n", tasks, rounds);
    Measure("status page", rounds, [] { return BuildStatusPage(); });
    Measure("tasks JSON", rounds, [] { return BuildTasksJson(); });
    return 0;
}
