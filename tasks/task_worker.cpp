#include "tasks/task_worker.h"

#include "base/debug_trace.h"
#include "base/file_system.h"
#include "base/text_convert.h"
#include "base/win32.h"
#include "state/config.h"
#include "state/program_exit.h"
#include "tasks/archive_extraction.h"
#include "tasks/classified_copy.h"
#include "tasks/extraction_folder.h"
#include "tasks/extraction_turns.h"
#include "tasks/http_download.h"

#include <objbase.h>
#include <shellapi.h>

namespace {

constexpr const char* kCopyFailedText = "Failed to copy file to development directory";
constexpr const char* kNoExtractionFolderText = "Failed to create extraction folder";

// The shell may hand the verb to COM objects, which need the calling thread in an apartment.
void OpenFolderInFileManager(const std::wstring& folder) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

FolderOpener g_folderOpener = OpenFolderInFileManager;

// Reports a stage's percentages after the 0 its start reported, skipping repeats: a large
// download reports after every 64 KiB buffer, and each report costs the table lock and a message
// to the window.
ProgressCallback StageProgress(const TaskRef& ref, TaskStatus stage) {
    return [ref, stage, last = 0](int percent) mutable {
        if (percent == last) {
            return;
        }
        last = percent;
        UpdateTaskStatus(ref, stage, percent, std::string());
    };
}

void ReportFailure(const TaskRef& ref, const std::string& error) {
    UpdateTaskStatus(ref, TaskStatus::Failed, 0, error);
}

// Sorts the extracted entries into the development directory and sets the final status.
void RunClassifiedCopy(const TaskRef& ref, const std::wstring& sourceDir, const std::wstring& devDir) {
    CreateDirectoryRecursive(devDir);
    const ClassifiedCopyResult copy = ClassifiedCopy(sourceDir, devDir);
    UpdateTaskFields(ref, [&copy](DownloadTask& task) {
        task.stage = TaskStage::Filed;
        task.copyDestDir = copy.firstDestDir;
        task.copyFirstItem = copy.firstMovedPath;
        task.leftoverDir = copy.leftoverDir;
    });
    if (copy.existingCount > 0) {
        UpdateTaskStatus(ref, TaskStatus::AlreadyExists, 100, std::string());
        return;
    }
    if (copy.leftoverDir.empty()) {
        // The extraction directory is gone: every entry now lives in the development directory.
        UpdateTaskFields(ref, [](DownloadTask& task) { task.extractDir.clear(); });
        UpdateTaskStatus(ref, TaskStatus::Completed, 100, std::string());
        return;
    }
    g_folderOpener(copy.leftoverDir);
    UpdateTaskStatus(ref, TaskStatus::Completed, 100, kLeftoverNote);
}

enum class ArchiveCopy { Copied, AlreadyExists, Failed };

// The downloaded file itself, under the task's name, in devDir\<name>\<name>.zip. A file the user
// already has there is never replaced.
ArchiveCopy CopyDownloadedFile(const DownloadTask& task, const std::wstring& devDir) {
    const std::wstring name = Utf8ToWide(task.name);
    const std::wstring targetDir = devDir + L"\\" + name;
    CreateDirectoryRecursive(targetDir);
    const std::wstring target = targetDir + L"\\" + name + L".zip";
    if (CopyIntoPlace(task.filePath, target, false)) {
        return ArchiveCopy::Copied;
    }
    return IsRegularFile(target) ? ArchiveCopy::AlreadyExists : ArchiveCopy::Failed;
}

// True when the whole archive is in the task's file: downloaded now, or by an earlier run whose
// later stage was interrupted. The validator is kept with the task as soon as the reply names it,
// so that a run after a crash continues the file instead of fetching it again.
bool RunDownloadStage(const TaskRef& ref, const DownloadTask& task, const TaskWorkerHooks& hooks) {
    if (task.stage >= TaskStage::Downloaded && IsRegularFile(task.filePath)) {
        return true;
    }
    // A new attempt shows no error and no time of a next try from the one before.
    UpdateTaskFields(ref, [](DownloadTask& record) {
        record.error.clear();
        record.hasNextTry = false;
    });
    UpdateTaskStatus(ref, TaskStatus::Downloading, 0, std::string());
    std::string error;
    DownloadResume resume;
    resume.validator = task.resumeValidator;
    resume.total = task.resumeTotal;
    resume.cancel = hooks.cancel;
    resume.validatorSeen = [ref](const std::string& validator, std::uint64_t total) {
        UpdateTaskFields(ref, [&validator, total](DownloadTask& record) {
            record.resumeValidator = validator;
            record.resumeTotal = total;
        });
    };
    const bool downloaded = DownloadFile(Utf8ToWide(task.url), task.filePath,
                                         StageProgress(ref, TaskStatus::Downloading), error, &resume);
    // Stored before the failure is reported, so that a retry the failure allows sees it.
    UpdateTaskFields(ref, [&resume, downloaded](DownloadTask& record) {
        record.resumeValidator = resume.validator;
        record.resumeTotal = resume.total;
        record.stage = downloaded ? TaskStage::Downloaded : TaskStage::None;
    });
    // A download stopped by the program's end is not a failure: the task stays where it was and
    // continues at the next start.
    if (!downloaded && IsExitStarted()) {
        return false;
    }
    if (hooks.downloadEnded) {
        return hooks.downloadEnded(downloaded, resume, error);
    }
    if (!downloaded) {
        ReportFailure(ref, error);
    }
    return downloaded;
}

// Extracts the archive into a folder of its own and deletes it; the folder, or empty when the task
// ended here. A task whose archive an earlier run extracted already gets that run's folder back.
std::wstring RunExtractionStage(const TaskRef& ref, const DownloadTask& task,
                                const std::wstring& downloadDir) {
    if (task.stage == TaskStage::Extracted && !task.extractDir.empty()) {
        return task.extractDir;
    }
    UpdateTaskStatus(ref, TaskStatus::Extracting, 0, std::string());
    // The copy stage sweeps the whole folder, so it must hold only what this archive put there.
    const std::wstring extractDir = ClaimExtractionFolder(downloadDir, Utf8ToWide(task.name), task.filePath);
    if (extractDir.empty()) {
        ReportFailure(ref, kNoExtractionFolderText);
        return std::wstring();
    }
    std::string error;
    bool extracted = false;
    {
        // A task waiting for its turn shows Extracting at 0.
        const ExtractionTurn turn;
        if (!turn.acquired()) {
            RemoveDirectoryW(extractDir.c_str());  // the program is ending; the folder is still empty
            return std::wstring();
        }
        extracted =
            ExtractArchive(task.filePath, extractDir, StageProgress(ref, TaskStatus::Extracting), error);
    }
    // The archive is deleted only once the extractor reported success; on any failure it is the
    // only complete copy of the download.
    if (!extracted) {
        RemoveDirectoryW(extractDir.c_str());  // only when the extractor left it empty
        if (!IsExitStarted()) {
            ReportFailure(ref, error);
        }
        return std::wstring();
    }
    // Recorded, and kept, before the archive goes: after a crash the record must not send a retry
    // to an archive that is gone.
    UpdateTaskFields(ref, [&extractDir](DownloadTask& record) {
        record.extractDir = extractDir;
        record.stage = TaskStage::Extracted;
    });
    KeepTaskChanges();
    DeleteFileW(task.filePath.c_str());
    return extractDir;
}

void RunPipeline(const TaskRef& ref, const TaskWorkerHooks& hooks) {
    const PathReservation reservation(ref);  // held until this worker ends, whatever the list does
    DownloadTask task;
    if (!CopyTask(ref, &task)) {
        return;
    }
    const bool extractedBefore = task.stage == TaskStage::Extracted && !task.extractDir.empty();
    if (!extractedBefore && !RunDownloadStage(ref, task, hooks)) {
        return;
    }

    if (IsExitStarted()) {
        return;
    }
    const AppConfig extractConfig = GetConfig();
    std::wstring extractDir;
    const bool extracting = extractedBefore || extractConfig.autoExtract;
    if (extracting) {
        extractDir = RunExtractionStage(ref, task, extractConfig.downloadDir);
        if (extractDir.empty()) {
            return;
        }
    }

    if (IsExitStarted()) {
        return;
    }
    const AppConfig copyConfig = GetConfig();
    if (copyConfig.autoCopyToDev && !copyConfig.devDir.empty()) {
        UpdateTaskStatus(ref, TaskStatus::Copying, 0, std::string());
        // After a crash from here on, the task's record says that filing had begun.
        KeepTaskChanges();
        if (extracting) {
            RunClassifiedCopy(ref, extractDir, copyConfig.devDir);
            return;
        }
        const ArchiveCopy copied = CopyDownloadedFile(task, copyConfig.devDir);
        if (copied == ArchiveCopy::AlreadyExists) {
            UpdateTaskStatus(ref, TaskStatus::AlreadyExists, 100, std::string());
            return;
        }
        if (copied == ArchiveCopy::Failed) {
            ReportFailure(ref, kCopyFailedText);
            return;
        }
        UpdateTaskFields(ref, [](DownloadTask& record) { record.stage = TaskStage::Filed; });
    }
    UpdateTaskStatus(ref, TaskStatus::Completed, 100, std::string());
}

}  // namespace

void RunTaskWorker(TaskRef ref, const TaskWorkerHooks& hooks) {
    RunPipeline(ref, hooks);
}

void SetFolderOpenerForTesting(FolderOpener opener) {
    g_folderOpener = opener ? opener : OpenFolderInFileManager;
}
