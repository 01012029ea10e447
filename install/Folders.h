// Folder helpers of an installation attempt, used by the orchestrator and the main window.
#pragma once

#include <windows.h>

#include <string>

#include "utils/Status.h"

// The installer's private temporary folders, below the user's temporary folder, are named this prefix followed
// by 16 random hexadecimal digits.
#define PRIVATE_TEMP_FOLDER_PREFIX L"~KadoTemp."

// Creates every missing folder of `path` from the drive down; true when the folder exists afterwards.
// Paths over 260 characters are refused without touching the disk.
bool CreateDirectoryChain(const wchar_t* path);

// Creates a new private temporary folder for this run in `parent` (ending in a backslash; empty: the user's
// temporary folder) and fills `folder` with it (ending in a backslash). The name is unpredictable and the folder
// must not exist before: the user's temporary folder is writable by any program of the user, so nothing found
// there is ever taken as ours. A folder that turns out to be a reparse point is refused. Inverted result: false
// on success, true on failure (then `folder` is left untouched).
bool GetPrivateTempFolder(wchar_t (&folder)[MAX_PATH], const std::wstring& parent = {});

// The elevated installer's working folder below %ProgramData%: the package is downloaded, verified and started
// there, and the previous installation's uninstaller copied and run there, out of reach of the user's account.
#define WORK_FOLDER_NAME L"TunivoxSetupWork"

struct WorkFolder {
    std::wstring path;      // no trailing backslash; empty: none could be had
    bool resumable = false; // kept across runs (a part file left there resumes); false: made for this run only
};

// Elevated: %ProgramData%\TunivoxSetupWork, made now or found owned by and writable for SYSTEM and Administrators
// only (Utils::AdministratorsOnlyFolder); when it fails that check, a new folder of that name followed by "." and
// 16 random hexadecimal digits, for this run only. Not elevated (a user-level installation): `installDir`, as
// always. Nothing is chosen from an environment variable the user can set.
WorkFolder ChooseWorkFolder(bool elevated, const std::wstring& installDir);

// Succeeds when the package at `packagePath`, its part file and the part file's state may be written and deleted
// there: no reparse point on their paths and no second name for any that exists. Otherwise says which one is not.
Utils::Status CheckWorkFiles(const std::wstring& packagePath);

// After the run: a folder made for this run only is emptied of the package's files and removed; a resumable one
// keeps what a broken-off download left there.
void RemoveWorkFolder(const WorkFolder& work, const std::wstring& packagePath);

// "<PRIVATE_TEMP_FOLDER_PREFIX><16 hexadecimal digits of `random`>\".
std::wstring PrivateTempFolderName(unsigned long long random);
