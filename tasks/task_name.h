// Every task name becomes part of file and directory names (the download, the extraction folder,
// the copy in the development directory). This is the one rule that keeps those inside their
// directories: names are cleaned, never rejected, so a request from the page always gets a task.
#pragma once

#include <string>

// Longest cleaned name, in UTF-16 units, so that directory + name + timestamp stays a usable path.
constexpr size_t kMaxTaskNameChars = 100;
// What a name that cleans down to nothing becomes.
constexpr const char* kFallbackTaskName = "download";

// Returns a UTF-8 name that is a single valid Windows file name: characters Windows forbids
// (< > : " / \ | ? * and control characters) become "_", leading spaces and trailing dots and spaces
// are removed (so "." and ".." cannot survive), reserved device names (CON, NUL, COM1, ...) get a
// "_" in front, and the result is cut to kMaxTaskNameChars without splitting a character.
std::string CleanTaskName(const std::string& utf8Name);
