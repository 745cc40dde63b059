// The path layer: every Windows path of the program (the fixed C:\KVO\... paths and paths read
// from configuration files or requests) is laid onto this file system here and nowhere else.
// The mapping is documented in docs/paths.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvo::platform {

// The folder that holds one sub-folder per drive letter: $KVO_DRIVES, or /var/lib/kvo/drives.
std::string DrivesRoot();

// Maps a Windows path (Windows-1252 text) onto this file system (UTF-8 names).
// "X:\a\b" -> DrivesRoot()/X/a/b; "\a" -> drive C; "a\b" stays relative to the current directory.
// ".." never climbs above the drive folder (or, for relative paths, above the current
// directory). Names are found as Windows finds them: trailing dots and blanks ignored, and
// without regard to letter case when no name of the exact spelling exists; a name that does
// not exist keeps the spelling written (the name a file is created under). Returns nullopt
// when the path holds a NUL byte: such a path never reaches the file system and callers treat
// it as a file that cannot be opened.
std::optional<std::string> HostPath(std::string_view windowsPath);

// True when `relative`, put after a folder and a backslash, names a place inside that folder as
// HostPath resolves it: no NUL byte, no drive, no leading separator and no ".." component.
bool StaysInsideFolder(std::string_view relative);

// HostPath lists a folder at most once until this is called (and again when the folder has
// changed since): the frame calls it when a request begins.
void ForgetFolderListings();

// The full Windows form of a path as the program names it in messages ("Cannot open file "%s"").
// Relative paths are completed with the current directory in its Windows form.
std::string WindowsFullPath(std::string_view windowsPath);

// The Windows form (Windows-1252) of a host path (UTF-8): the inverse of HostPath for paths
// under DrivesRoot(); other host paths keep their text with "/" turned into "\".
std::string WindowsPathOf(std::string_view hostPath);

}  // namespace kvo::platform
