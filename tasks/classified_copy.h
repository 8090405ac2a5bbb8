// Files the top-level entries of an extraction directory into the development directory by the
// classification rules, without ever overwriting or losing an item.
#pragma once

#include <string>

struct ClassifiedCopyResult {
    // The source directory when any entry stayed behind (matched no rule, or could not be moved);
    // else empty.
    std::wstring leftoverDir;
    // Entries whose destination already existed; they are left where they are.
    int existingCount = 0;
    // Classified entries whose move failed; each is still complete in the source directory.
    int notMovedCount = 0;
    // Destination directory of the first classified entry, whether or not it was moved.
    std::wstring firstDestDir;
    // Destination path of the first entry a move was attempted for.
    std::wstring firstMovedPath;
};

// Moves every top-level entry of `sourceDir` whose name a rule classifies into its folder under
// `devDir`. Names starting with "." are left alone. An entry whose destination exists is counted,
// never overwritten or merged. The source directory is removed when it ends up empty. Calls are
// serialised across the process, so two tasks filing into one development directory cannot both
// claim the same destination.
ClassifiedCopyResult ClassifiedCopy(const std::wstring& sourceDir, const std::wstring& devDir);

// Moves a file or directory to `destination`, which must not exist. Only when the rename fails
// because the destination is on another drive (ERROR_NOT_SAME_DEVICE) does it copy instead; any
// other failure leaves the item where it is. The copy (see CopyIntoPlace) is complete before the
// source is removed; an incomplete copy is removed again and the source kept. True when the item
// is now at the destination and gone from the source.
bool MoveItem(const std::wstring& source, const std::wstring& destination, bool isDirectory);

// The copy half of MoveItem, also used when the rename is known to fail. False also when the source
// could not be removed (fully) after a complete copy; the copy then stays.
bool MoveItemByCopy(const std::wstring& source, const std::wstring& destination, bool isDirectory);

// Copies a file or a whole tree to a hidden sibling of `destination` (".<name>.partial-<serial>")
// and renames it into place once complete, so that an exit or a crash never leaves a half copy
// under the real name. Never overwrites: false, with nothing left behind, when anything exists at
// `destination` or the copy fails.
bool CopyIntoPlace(const std::wstring& source, const std::wstring& destination, bool isDirectory);

// Removes the unfinished copies an earlier run left in the development directory: in it, in each
// folder directly under it, and in every folder the classification rules file into.
void RemoveUnfinishedCopies(const std::wstring& devDir);

// Copies the tree at `source` into `destination` (created if missing), every file included, names
// starting with "." too, never overwriting. True only when every file and directory was copied.
bool CopyDirectoryTree(const std::wstring& source, const std::wstring& destination);

// Deletes a directory tree in this process. Links inside it (reparse points) are removed without
// following them. True when nothing is left at the path.
bool RemoveDirectoryTree(const std::wstring& path);
