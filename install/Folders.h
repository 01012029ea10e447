// Folder helpers of an installation attempt, used by the orchestrator and the main window.
#pragma once

#include <windows.h>

// The installer's private temporary folder, below the user's temporary folder.
#define PRIVATE_TEMP_FOLDER_NAME L"~KadoTemp.92482B06FB471E17\\"

// Creates every missing folder of `path` from the drive down; true when the folder exists afterwards.
// Paths over 260 characters are refused without touching the disk.
bool CreateDirectoryChain(const wchar_t* path);

// Fills `folder` with the private temporary folder (ending in a backslash), creating it when needed.
// Inverted result: false on success, true on failure (then `folder` is left untouched).
bool GetPrivateTempFolder(wchar_t (&folder)[MAX_PATH]);
