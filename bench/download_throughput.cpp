// Throughput of TarnDown's DownloadFile against a bare WinHTTP loop that reads the same body and
// throws it away (the ceiling WinHTTP sets on this platform). Rounds alternate between the two so
// that drift in the machine's speed hits both alike.
//
//   download_throughput.exe <url> <output file> <rounds> [tarn|bare]
//
// With a last argument only that one of the two runs (for timing whole processes from outside).
// Prints one line per fetch ("tarn <MB/s>" or "bare <MB/s>"), the medians and the median of the
// per-round ratios.
#include "base/unique_handle.h"
#include "base/win32.h"
#include "bench/bench_util.h"
#include "tasks/http_download.h"
#include "tasks/url_split.h"

#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBareReadBytes = 65536;

// The same requests DownloadFile makes, with no file, no progress and no checks.
std::uint64_t BareFetch(const std::wstring& url) {
    UrlParts parts;
    if (!SplitUrl(url, &parts)) {
        return 0;
    }
    UniqueInternet session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueInternet connection(WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
    UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", parts.path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return 0;
    }
    std::vector<char> buffer(kBareReadBytes);
    std::uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), kBareReadBytes, &got) || got == 0) {
            return total;
        }
        total += got;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: download_throughput <url> <output file> <rounds> [tarn|bare]\n");
        return 2;
    }
    const std::string only = argc == 5 ? argv[4] : "";
    const bool runTarn = only != "bare";
    const bool runBare = only != "tarn";
    const std::wstring url = Widen(argv[1]);
    const std::wstring output = Widen(argv[2]);
    const int rounds = std::atoi(argv[3]);
    std::vector<double> tarn, bare;
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER start, end;
        if (!runTarn) {
            QueryPerformanceCounter(&start);
            const std::uint64_t got = BareFetch(url);
            QueryPerformanceCounter(&end);
            std::printf("bare %.1f MB/s\n", static_cast<double>(got) / 1e6 / Seconds(start, end));
            continue;
        }
        QueryPerformanceCounter(&start);
        std::string error;
        int lastPercent = -1;
        const bool ok = DownloadFile(
            url, output, [&lastPercent](int percent) { lastPercent = percent; }, error);
        QueryPerformanceCounter(&end);
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(output.c_str(), GetFileExInfoStandard, &data);
        const double bytes =
            static_cast<double>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
        if (!ok || lastPercent != 100) {
            std::printf("tarn failed: %s\n", error.c_str());
            return 1;
        }
        tarn.push_back(bytes / 1e6 / Seconds(start, end));
        std::printf("tarn %.1f MB/s\n", tarn.back());
        if (!runBare) {
            continue;
        }

        QueryPerformanceCounter(&start);
        const std::uint64_t got = BareFetch(url);
        QueryPerformanceCounter(&end);
        if (static_cast<double>(got) != bytes) {
            std::printf("bare fetch got %llu bytes\n", static_cast<unsigned long long>(got));
            return 1;
        }
        bare.push_back(static_cast<double>(got) / 1e6 / Seconds(start, end));
        std::printf("bare %.1f MB/s\n", bare.back());
        std::fflush(stdout);
    }
    // Each round's two fetches ran back to back, so their ratio is the least disturbed figure.
    if (!runTarn || !runBare) {
        return 0;
    }
    std::vector<double> ratios;
    for (size_t i = 0; i < tarn.size(); ++i) {
        ratios.push_back(tarn[i] / bare[i]);
    }
    std::printf("median tarn %.1f MB/s, bare %.1f MB/s, median of round ratios %.2f (min %.2f, max %.2f)\n",
                Median(tarn), Median(bare), Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
