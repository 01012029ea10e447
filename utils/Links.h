// Checks that keep the elevated installer from reaching a file through a link: everything the user's account can
// write (the temporary folder, the installation folder, the log's folder) may hold a junction, a symbolic link, a
// mount point or a second hard link planted to turn the installer's writes or deletes onto a file of someone
// else's choosing, or to make it run something other than what it checked.
#pragma once

#include <windows.h>

#include <string>

#include "utils/ScopedWin.h"

namespace Utils {

// Empty when the file behind `file` is an ordinary file with exactly one name; otherwise what it is instead.
// Open it with FILE_FLAG_OPEN_REPARSE_POINT, or a link is followed and its target checked instead.
std::wstring LinkProblem(HANDLE file);

// Empty when no folder on `path`, from the drive down, and not the last component if it exists, is a reparse
// point; otherwise which one is. A component that does not exist ends the walk: it cannot be a link yet.
std::wstring ReparsePointOnPath(const std::wstring& path);

// Opens `path` without following a reparse point at its end, and refuses (no handle, the reason in `problem`)
// anything ReparsePointOnPath or LinkProblem finds. `disposition` as for CreateFileW.
UniqueFileHandle OpenWithoutLinks(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                                  std::wstring& problem);

// Empty when a file may be written at `path` by name: no reparse point on its path nor at its end, and, when it
// exists, exactly one name. Otherwise why not.
std::wstring LinkProblemAt(const std::wstring& path);

// Deletes `path` through a handle OpenWithoutLinks gives: a delete by name could be turned onto another file
// through a junction planted on the way. True when it is gone (or was never there); otherwise `problem` says why.
bool DeleteWithoutLinks(const std::wstring& path, std::wstring& problem);

} // namespace Utils
