// The task journal's cost: writing 1,000 tasks (the text and the atomic replace with its flush),
// reading them back, and, with "--write <folder>", a journal of 1,000 tasks for a start-up run.
//   task_journal_bench.exe <folder> [rounds]
//   task_journal_bench.exe --write <folder> <download folder> <development folder>
#include "bench/bench_util.h"
#include "tasks/task_journal.h"
#include "tasks/task_journal_file.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kTasks = 1000;
constexpr int kDefaultRounds = 50;

std::vector<DownloadTask> SampleTasks(const std::wstring& downloadDir, const std::wstring& devDir) {
    std::vector<DownloadTask> tasks;
    for (int i = 0; i < kTasks; ++i) {
        DownloadTask task;
        task.name = "asset_pack_" + std::to_string(i);
        task.url = "http://assets.tarn.example/files/asset_pack_" + std::to_string(i) + ".zip?token=abcdef";
        task.category = "default";
        task.filePath = downloadDir + L"\\asset_pack_" + std::to_wstring(i) + L"_20261208_213000.zip";
        task.status = TaskStatus::Completed;
        task.progress = 100;
        GetLocalTime(&task.finishTime);
        task.hasFinishTime = true;
        task.copyDestDir = devDir + L"\\anim\\effect";
        task.copyFirstItem = devDir + L"\\anim\\effect\\sfx_" + std::to_wstring(i) + L".png";
        task.resumeValidator = "\"5f1e-" + std::to_string(i) + "\"";
        task.stage = TaskStage::Filed;
        tasks.push_back(task);
    }
    return tasks;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--write") == 0) {
        const std::wstring folder = Widen(argv[2]);
        const auto tasks = SampleTasks(Widen(argv[3]), Widen(argv[4]));
        return WriteTaskJournalFile(folder + L"\\" + kTaskJournalFileName, FormatTaskJournal(tasks)) ? 0 : 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: task_journal_bench <folder> [rounds]\n");
        return 2;
    }
    const std::wstring folder = Widen(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : kDefaultRounds;
    const std::wstring path = folder + L"\\" + kTaskJournalFileName;
    const JournalDirs dirs{folder + L"\\downloads", folder + L"\\dev"};
    const auto tasks = SampleTasks(dirs.downloadDir, dirs.devDir);
    std::vector<double> format, save, load;
    size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER t0, t1, t2, t3;
        QueryPerformanceCounter(&t0);
        const std::string text = FormatTaskJournal(tasks);
        QueryPerformanceCounter(&t1);
        if (!WriteTaskJournalFile(path, text)) {
            std::fprintf(stderr, "write failed\n");
            return 1;
        }
        QueryPerformanceCounter(&t2);
        const JournalLoad loaded = LoadTaskJournal(path, dirs);
        QueryPerformanceCounter(&t3);
        if (loaded.tasks.size() != tasks.size()) {
            std::fprintf(stderr, "read back %zu tasks\n", loaded.tasks.size());
            return 1;
        }
        bytes = text.size();
        format.push_back(Seconds(t0, t1) * 1000);
        save.push_back(Seconds(t0, t2) * 1000);
        load.push_back(Seconds(t2, t3) * 1000);
    }
    std::printf("%d tasks, %zu bytes, %d rounds (median / max, ms)\n", kTasks, bytes, rounds);
    std::printf("  text only            %7.2f / %7.2f\n", Median(format),
                *std::max_element(format.begin(), format.end()));
    std::printf("  save (text + write)  %7.2f / %7.2f\n", Median(save),
                *std::max_element(save.begin(), save.end()));
    std::printf("  read and check       %7.2f / %7.2f\n", Median(load),
                *std::max_element(load.begin(), load.end()));
    return 0;
}
