// The program's settings: one record, loaded from "TarnDown.ini" beside the executable and written
// back at every change. The record is shared by the user-interface, HTTP and worker threads, so it
// is private to config.cpp: read it as a whole with GetConfig() and change it with UpdateConfig().
#pragma once

#include "base/file_system.h"

#include <cstddef>
#include <functional>
#include <string>

constexpr int kDefaultPort = 61206;
constexpr const wchar_t* kDefaultDownloadDir = L"D:\\Downloads";
constexpr const wchar_t* kDefaultDevDir = L"D:\\996\\100\\VezOdevor\\dev";
constexpr const wchar_t* kConfigFileName = L"TarnDown.ini";
constexpr const wchar_t* kConfigSection = L"Settings";
// Largest body of unknown length a download keeps receiving; "MaxDownloadBytes" in the file.
constexpr unsigned long long kDefaultMaxDownloadBytes = 8ULL * 1024 * 1024 * 1024;
// Longest directory the settings file reads back whole (the classic MAX_PATH less the terminator);
// every place that accepts a directory holds it to this.
constexpr size_t kMaxDirectoryChars = 259;
// Downloads that may run at once; more wait their turn.
constexpr int kDefaultMaxConcurrentDownloads = 3;
constexpr int kMinConcurrentDownloads = 1;
constexpr int kMaxConcurrentDownloads = 10;

// True for a count of parallel downloads the settings may hold.
bool IsUsableDownloadLimit(long long value);

// A directory value without trailing separators ("D:\tools\" is "D:\tools"), except the one of a
// drive root ("D:\" stays, since "D:" alone means the drive's current directory). Every place
// that stores a directory stores it so, as paths are built by appending "\" and a name.
std::wstring TrimDirectorySeparators(std::wstring path);

// True for a directory value the settings may hold: an absolute path ("X:\...", "X:/..." or
// "\\server\share..."), at most kMaxDirectoryChars long, with no control character (which would
// break the line structure of the settings file). A relative value would make tasks write
// relative to the working directory or the root of the current drive.
bool IsUsableDirectory(const std::wstring& path);

struct AppConfig {
    int port = kDefaultPort;
    std::wstring downloadDir = kDefaultDownloadDir;
    std::wstring devDir = kDefaultDevDir;
    bool autoExtract = true;
    bool autoCopyToDev = true;
    // Kept in the file for users who set it; nothing in the program acts on it.
    bool startMinimized = false;
    // Read from the file when a user sets it there; never written back.
    unsigned long long maxDownloadBytes = kDefaultMaxDownloadBytes;
    int maxConcurrentDownloads = kDefaultMaxConcurrentDownloads;
    // A download that failed for a reason that may pass is tried again after a pause.
    bool autoRetry = true;
    // The tray icon says so when a batch of downloads ends while the download window is hidden.
    bool notifyWhenDone = true;
};

// Set once by LoadConfig on the user-interface thread before any other thread starts.
extern std::wstring g_exeDir;
extern std::wstring g_configPath;

// Reads the settings beside the running executable, creating the file with defaults on first run,
// and makes sure both directories exist.
void LoadConfig();
// Same, as if the executable were at `exePath`. Used by LoadConfig and by tests.
void LoadConfigForExecutable(const std::wstring& exePath);

// A consistent copy of every setting, taken under the settings lock.
AppConfig GetConfig();

// Applies `change` to the settings under the lock, then writes them to the file.
void UpdateConfig(const std::function<void(AppConfig&)>& change);

// Writes all nine keys of the current settings to g_configPath. Concurrent calls are serialised.
void SaveConfig();
