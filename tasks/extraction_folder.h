// The folder a task extracts into. It must be the task's own: the classified copy moves every
// top-level entry of it away, so a user's folder of the same name, or another task's extraction,
// must never be chosen.
#pragma once

#include <string>

// Claims a folder that did not exist before by creating it: `downloadDir`\`name` when free, else
// `downloadDir`\`archiveStem` (the archive's file name without ".zip", "<name>_<timestamp>"), then
// that with "_2", "_3", ... Creating is the claim, so two tasks never get the same folder. Empty
// when no folder could be created.
std::wstring ClaimExtractionFolder(const std::wstring& downloadDir, const std::wstring& name,
                                   const std::wstring& archivePath);
