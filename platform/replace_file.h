// Replacing a file whole or not at all, durably: the new content goes to a temporary file beside
// the target, is flushed to disk, and is renamed over the target; the folder is flushed after the
// rename. A crash, a full disk or an overlapping writer leaves either the old file or the new
// one, never a torn or empty one; of overlapping writers the last to rename wins. A killed
// process may leave a stray "<name>.tmp<pid>" beside the target.
// A folder the writer may not change cannot take the temporary file: when it already holds the
// target as a regular file the writer may write, that file is rewritten in place instead
// (truncated, written and flushed under an exclusive flock). That way an administrator can let
// the program write one file of a folder and nothing else there; the price is that a crash or
// a full disk in the middle of that write leaves the file torn or short.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace kvo::platform {

// Creates or truncates `hostPath` (permission bits `mode`, less the umask), writes `bytes` and
// flushes them to disk. Returns 0 or the errno value; a failed file is left for the caller.
int WriteSyncedFile(const std::string& hostPath, std::string_view bytes, mode_t mode) noexcept;

// Flushes the folder that holds `hostPath`, so a rename or link made in it survives a crash.
// Best effort: a folder that cannot be opened for it is left as the kernel keeps it.
void SyncFolderOf(const std::string& hostPath) noexcept;

// Replaces `hostPath` as the header says. Returns 0 or the errno value; on failure the target
// is unchanged (but after a failed write in place) and the temporary file removed. When the
// folder refuses the temporary file and the target is missing or not writable, the folder's
// refusal is returned (EACCES "Permission denied" as a rule).
int ReplaceFileDurably(const std::string& hostPath, std::string_view bytes,
                       mode_t mode = 0666) noexcept;

// Replaces `hostPath` whole or not at all for its readers, as ReplaceFileDurably does, without
// flushing anything to disk: for files written often and rebuilt from elsewhere after a crash.
// Returns 0 or the errno value; on failure the target is unchanged and the temporary removed.
int ReplaceFileAtomically(const std::string& hostPath, std::string_view bytes,
                          mode_t mode = 0666) noexcept;

// The same by Windows path. Throws kvo::Error "Cannot create file "<full Windows path>".
// <reason>" (kind "EFCreateError").
void ReplaceWholeFile(std::string_view windowsPath, std::string_view bytes);

}  // namespace kvo::platform
