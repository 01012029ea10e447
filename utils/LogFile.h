// The installer's log file: every debug-log line also goes, as UTF-8, to a file that support can ask for.
//
// The file is written line by line as the lines are logged (one WriteFile per line, so a crash or a kill loses
// nothing that was logged), opened for reading by others while it is open, and closed when the process ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace Utils {

// Most log files of earlier runs kept in the temporary folder, the new one included.
constexpr size_t kKeptLogFiles = 10;

// "TunivoxSetup_<yyyymmdd>_<hhmmss>_<pid>.log" for a run started at `time` (local time).
std::wstring LogFileName(const SYSTEMTIME& time, DWORD processId);
// True for names LogFileName makes (and only those: other files of the temporary folder are never touched).
bool IsLogFileName(const std::wstring& name);
// Of the file names `existing` (any order, other names ignored), the oldest log files to delete so that a new one
// brings the count to at most `kept`, oldest first.
std::vector<std::wstring> LogFilesToRemove(std::vector<std::wstring> existing, size_t kept);
// `url` without its user information, query and fragment: what may be written to a log.
std::wstring UrlForLog(const std::wstring& url);

// The folder below %ProgramData% where an elevated run logs when the user's temporary folder is reached through a
// link; made for SYSTEM and Administrators only.
constexpr wchar_t kAdministratorsLogFolderName[] = L"TunivoxSetupLogs";

// Opens the process's log file and tees every later debug-log line into it. `path` empty: a new file in the user's
// temporary folder (for an `elevated` run whose temporary folder has a reparse point on its path, in
// kAdministratorsLogFolderName instead), named by LogFileName, after the oldest earlier ones were removed
// (kKeptLogFiles). `path` given: that file, appended to. The file is never reached through a reparse point on its
// path nor taken when it has a second hard link; old ones are deleted under the same rule. Returns the file's path,
// or empty when no file could be opened (the installation goes on without one).
std::wstring OpenLogFile(const std::wstring& path, bool elevated);
// Ends the tee and closes the file (also for tests; the process's end closes it otherwise).
void CloseLogFile();

} // namespace Utils
