// Folder helpers of an installation attempt, used by the orchestrator and the main window.
#pragma once

#include <windows.h>

#include <string>

// The installer's private temporary folders, below the user's temporary folder, are named this prefix followed
// by 16 random hexadecimal digits.
#define PRIVATE_TEMP_FOLDER_PREFIX L"~KadoTemp."

// Creates every missing folder of `path` from the drive down; true when the folder exists afterwards.
// Paths over 260 characters are refused without touching the disk.
bool CreateDirectoryChain(const wchar_t* path);

// Creates a new private temporary folder for this run and fills `folder` with it (ending in a backslash). The
// name is unpredictable and the folder must not exist before: the user's temporary folder is writable by any
// program of the user, so nothing found there is ever taken as ours. A folder that turns out to be a reparse
// point is refused. Inverted result: false on success, true on failure (then `folder` is left untouched).
bool GetPrivateTempFolder(wchar_t (&folder)[MAX_PATH]);

// "<PRIVATE_TEMP_FOLDER_PREFIX><16 hexadecimal digits of `random`>\".
std::wstring PrivateTempFolderName(unsigned long long random);
