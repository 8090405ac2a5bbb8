// Builds ZIP archives in memory (stored, no compression) so tests can make archives with any
// names, including ones no tool on this machine would be handed safely.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Each entry is (UTF-8 name with "/" separators, content). A name ending in "/" is a directory.
std::string MakeStoredZip(const std::vector<std::pair<std::string, std::string>>& entries);
