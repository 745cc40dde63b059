// Replacing a file whole or not at all, durably: the new content goes to a temporary file beside
// the target, is flushed to disk, and is renamed over the target; the folder is flushed after the
// rename. A crash, a full disk or an overlapping writer leaves either the old file or the new
// one, never a torn or empty one; of overlapping writers the last to rename wins. A killed
// process may leave a stray "<name>.tmp<pid>" beside the target.
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
// is unchanged and the temporary file removed.
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
