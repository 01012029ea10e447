// Checks that keep the elevated installer from reaching a file through a link: everything the user's account can
// write (the temporary folder, the installation folder, the log's folder) may hold a junction, a symbolic link, a
// mount point or a second hard link planted to turn the installer's writes or deletes onto a file of someone
// else's choosing, or to make it run something other than what it checked.
#pragma once

#include <windows.h>

#include <string>

#include "utils/ScopedWin.h"
#include "utils/Status.h"

namespace Utils {

// Succeeds when the file behind `file` is an ordinary file with exactly one name; otherwise says what it is instead.
// Open it with FILE_FLAG_OPEN_REPARSE_POINT, or a link is followed and its target checked instead.
Status CheckNoLink(HANDLE file);

// Succeeds when no folder on `path`, from the drive down, and not the last component if it exists, is a reparse
// point; otherwise says which one is. A component that does not exist ends the walk: it cannot be a link yet.
Status CheckNoReparsePointOnPath(const std::wstring& path);

// Opens `path` without following a reparse point at its end, and refuses anything CheckNoReparsePointOnPath or
// CheckNoLink finds. `disposition` as for CreateFileW.
Result<UniqueFileHandle> OpenWithoutLinks(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

// Succeeds when a file may be written at `path` by name: no reparse point on its path nor at its end, and, when it
// exists, exactly one name.
Status CheckNoLinkAt(const std::wstring& path);

// Deletes `path` through a handle OpenWithoutLinks gives: a delete by name could be turned onto another file
// through a junction planted on the way. Succeeds when it is gone (or was never there).
Status DeleteWithoutLinks(const std::wstring& path);

} // namespace Utils
