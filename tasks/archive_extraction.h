// Unpacks a downloaded archive with an external extractor run as a hidden child process: 7-Zip's
// 7za.exe or 7z.exe when one is found, else PowerShell's Expand-Archive (zip files only).
#pragma once

#include "base/win32.h"
#include "tasks/progress_callback.h"

#include <string>

// How long an extraction may run before the extractor is ended and the task fails. Large asset
// packs on slow disks take minutes; an extractor still busy after this is taken to hang.
constexpr unsigned kExtractionTimeLimitSeconds = 30 * 60;

// The 7-Zip program to use: 7za.exe beside the executable (g_exeDir), in "%ProgramFiles%\7-Zip" or in
// "%ProgramFiles(x86)%\7-Zip"; then 7z.exe (what a normal 7-Zip installation has) in the same three
// places; then 7z.exe in the folder 7-Zip's installer recorded (HKLM\SOFTWARE\7-Zip, value Path64,
// then Path). Empty when there is none.
std::wstring FindSevenZip();

// "<7za>" x -y -o"<dest>" "<archive>". The process is started without a shell, so only the
// program's own argument splitting applies; a double quote (which no Windows path can hold)
// makes the result empty.
std::wstring BuildSevenZipCommandLine(const std::wstring& sevenZip, const std::wstring& archive,
                                      const std::wstring& destination);

// The PowerShell the extraction falls back to, by its full path in the system folder:
// "<system>\WindowsPowerShell\v1.0\powershell.exe". Started by bare name, the program's own folder
// and the working directory would be searched first.
std::wstring PowerShellPath();

// "<powershell>" -Command "Expand-Archive -LiteralPath '<archive>' -DestinationPath '<dest>' -Force".
// Both paths are PowerShell single-quoted literals (see QuotePowerShellLiteral); a double quote
// makes the result empty.
std::wstring BuildPowerShellCommandLine(const std::wstring& powerShell, const std::wstring& archive,
                                        const std::wstring& destination);

// 'text' with every single-quote character doubled. PowerShell ends a single-quoted string at
// any of ' U+2018 U+2019 U+201A U+201B, and reads nothing inside one ($, ;, & and ` are plain
// text), so the result is always exactly one literal.
std::wstring QuotePowerShellLiteral(const std::wstring& text);

// The progress shown in the `second`-th second of a running extraction: second * 100 / 60, at
// most 99, so only the end itself shows 100.
int ExtractionEstimate(unsigned second);

// Creates the destination, runs the extractor hidden and waits for it. While it runs the callback
// gets an estimate once a second (i * 100 / 60 for the i-th second, never above 99); 100 follows
// only a successful end. Returns true only when the extractor ended with exit code 0 and the
// destination holds something. False with a UTF-8 text in `error` when it cannot be started, ends
// with another code, leaves the destination empty, or is still running after `timeLimitSeconds`
// (it is then ended).
bool ExtractArchive(const std::wstring& archive, const std::wstring& destination, ProgressCallback progress,
                    std::string& error, unsigned timeLimitSeconds = kExtractionTimeLimitSeconds);

// Test seam: the system places the extractor search reads. `systemDir` holds PowerShell (see
// PowerShellPath); `registryRoot`\`registryKey` is where 7-Zip's installer records its folder.
struct ExtractorPlaces {
    std::wstring systemDir;
    HKEY registryRoot;
    std::wstring registryKey;
};
// Null restores the real places: SystemDirectory() and HKEY_LOCAL_MACHINE\SOFTWARE\7-Zip.
void SetExtractorPlacesForTesting(const ExtractorPlaces* places);
