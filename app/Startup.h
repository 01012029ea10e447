// Start-up steps of the installer process that come before any window.
#pragma once

#include <windows.h>

#include <delayimp.h>

#include <string>
#include <vector>

#include "config/InstallerConfig.h"

#include "utils/ScopedWin.h"

namespace App {

// Library loads by name come from the system folder only; the current folder leaves the search order; every
// delay-loaded library is loaded from the system folder; a fixed list of system libraries is loaded by full path
// and kept for the process's life. Runs during static construction, before anything else that could load a
// library: only KnownDLLs are imported statically, everything else is delay-loaded through this.
void PreloadSystemLibraries();

// The delay-load notification hook PreloadSystemLibraries installs: before each delay-loaded library is loaded,
// loads it from the system folder, and ends the process with kExitLibraryMissing when that fails rather than let
// the helper load it by name.
FARPROC WINAPI DelayLoadNotify(unsigned notify, PDelayLoadInfo info);
constexpr UINT kExitLibraryMissing = ERROR_MOD_NOT_FOUND;

// The names PreloadSystemLibraries loads, in order, each appended to the system folder.
extern const wchar_t* const kPreloadedLibraries[9];

constexpr const wchar_t* kInstanceMutexName = L"TOVANIQUE_Installer_Tunivox";

// The single-instance lock: owned when this is the only installer of the login.
class SingleInstance {
public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    [[nodiscard]] bool owned() const { return mutex_.valid(); }

private:
    Utils::UniqueHandle mutex_;
};

// Windows 7 SP1 with the loader update KB2533623 (SetDefaultDllDirectories) is the oldest Windows the installer
// supports. Every function newer than the oldest Windows that can load a 32-bit exe is looked up at run time, so
// an older Windows still starts the installer and is told why it cannot go on, instead of refusing to load it.
[[nodiscard]] bool MeetsWindowsFloor(unsigned major, unsigned minor, unsigned servicePackMajor,
                                     bool hasDefaultDllDirectories);
// The same for the running Windows (false when it cannot be asked).
[[nodiscard]] bool RunsOnSupportedWindows();
// "Windows 6.1.7601 SP1, SetDefaultDllDirectories present": what the floor was decided on, for the log.
std::wstring WindowsFacts();
// The message shown on an older Windows.
extern const wchar_t kUnsupportedWindowsText[];

// The first lines of the log: installer version, Windows, the account line, the configuration in effect (the URL
// without user information or query) and the layer each value came from.
std::vector<std::wstring> LogHeaderLines(const InstallerConfig& config, const std::wstring& installerVersion,
                                         const std::wstring& windowsName, const std::wstring& accountLine);
// "1.2.3.4" from this executable's version resource; "?" without one.
std::wstring InstallerVersion();

// "管理员权限：1.用户名=%s；2.用户权限=%s；3.进程权限=%s" with 是/否 for the two facts.
std::wstring AdminDiagnosticText(const std::wstring& userName, bool userIsAdmin, bool processIsAdmin);

} // namespace App
