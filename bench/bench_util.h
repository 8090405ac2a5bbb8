// Small helpers the benchmark programs share.
#pragma once

#include "base/win32.h"

#include <algorithm>
#include <string>
#include <vector>

// The middle value: the figure to quote on a machine whose single runs spread widely.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Command-line arguments here are addresses and paths in ASCII.
inline std::wstring Widen(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

// Seconds between two QueryPerformanceCounter readings.
inline double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}
