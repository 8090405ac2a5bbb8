// Small helpers the benchmark programs share.
#pragma once

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
