// A download cut at 90% and retried, against the same download from zero. Each round first fetches
// the whole file from zero (which also gives the ETag the retry sends back), then cuts the file
// on disk to 90% of its length, which is what a connection lost at 90% leaves (the download writes
// only whole buffers, in order), and retries it the way a failed task's retry does.
//
//   download_resume.exe <url> <output file> <rounds> [percent kept]
//
// Prints per round the time from zero, the time of the retry and the bytes each put on disk; then
// the medians. The bytes on the wire are in the server's log (bench/download_resume shows them).
#include "base/unique_handle.h"
#include "base/win32.h"
#include "bench/bench_util.h"
#include "tasks/http_download.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultPercentKept = 90;

std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool CutFile(const std::wstring& path, std::uint64_t size) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(size);
    return file && SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: download_resume <url> <output file> <rounds> [percent kept]\n");
        return 2;
    }
    const std::wstring url = Widen(argv[1]);
    const std::wstring output = Widen(argv[2]);
    const int rounds = std::atoi(argv[3]);
    const int percentKept = argc == 5 ? std::atoi(argv[4]) : kDefaultPercentKept;
    std::vector<double> fromZero, retried;
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER start, end;
        DownloadResume resume;
        std::string error;
        QueryPerformanceCounter(&start);
        if (!DownloadFile(url, output, nullptr, error, &resume)) {
            std::printf("download from zero failed: %s\n", error.c_str());
            return 1;
        }
        QueryPerformanceCounter(&end);
        fromZero.push_back(Seconds(start, end));
        const std::uint64_t size = FileSize(output);
        if (resume.validator.empty()) {
            std::printf("the server sent no validator; nothing to resume\n");
            return 1;
        }

        const std::uint64_t kept = size / 100 * static_cast<std::uint64_t>(percentKept);
        if (!CutFile(output, kept)) {
            std::printf("cannot cut the file\n");
            return 1;
        }
        int firstPercent = -1;
        QueryPerformanceCounter(&start);
        const bool ok = DownloadFile(
            url, output,
            [&firstPercent](int percent) {
                if (firstPercent < 0) {
                    firstPercent = percent;
                }
            },
            error, &resume);
        QueryPerformanceCounter(&end);
        if (!ok || FileSize(output) != size) {
            std::printf("retry failed: %s\n", error.c_str());
            return 1;
        }
        retried.push_back(Seconds(start, end));
        std::printf(
            "round %d: from zero %.3f s (%llu bytes), retry %.3f s (%llu bytes written, first report %d%%)\n",
            round + 1, fromZero.back(), static_cast<unsigned long long>(size), retried.back(),
            static_cast<unsigned long long>(size - kept), firstPercent);
        std::fflush(stdout);
    }
    std::printf("median from zero %.3f s, median retry %.3f s, retry/zero %.3f\n", Median(fromZero),
                Median(retried), Median(retried) / Median(fromZero));
    return 0;
}
