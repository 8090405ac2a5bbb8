// How the download and the extraction tell their caller how far they are.
#pragma once

#include <functional>

// Takes a percentage of the current stage, 0 to 100. May be empty.
using ProgressCallback = std::function<void(int percent)>;
