// What a successful installation leaves behind and the next run reads back: the registry record under
// HKEY_CURRENT_USER, "set.ini" in the install folder, the tracker ini under the application-data folder; and the
// start of the installed product. Everything is best effort and silent, and runs on the UI thread.
#pragma once

#include <windows.h>

#include <string>

namespace Records {

constexpr const wchar_t* kRegistryKey = L"Software\\tovanique\\Tunivox";
constexpr const wchar_t* kUninstallerMarker = L"uninst.ep";

// Reads one value of the record's key; `out` is untouched on failure. Values with or without a terminating null
// are accepted.
bool ReadRegistryString(const wchar_t* valueName, std::wstring& out);

struct InstallRecord {
    std::wstring installPath;     // "InstallPath"
    std::wstring uninstallerPath; // "UnInstallEp", or InstallPath + "\uninst.ep" when only the folder is recorded
};
InstallRecord ReadInstallRecord();

// Writes "InstallPath"; derives an empty `uninstallerPath` from the folder, and records it as "UnInstallEp" only
// when that file exists (otherwise removes any "UnInstallEp" an earlier installation left). False when a value could
// not be written or removed. False when a value could not be written (the others are still tried).
bool WriteInstallRecord(const std::wstring& installPath, std::wstring& uninstallerPath);

// The tracker ini's folder: %APPDATA% (or the common documents folder) + "\PellData\Tunivox".
std::wstring TrackerFolder();

// Writes set.ini in `installPath` (APPStore, AppName, a new DeviceID, PellSoftTrackerIni) and the tracker ini's
// UpdateTime. Neither is written when it or a folder on its path is a reparse point, or it has a second name (the
// log says which); false then, or when a value could not be written.
bool WriteSetIni(const std::wstring& installPath);

// The tracker's time text, "%d-%02d-%02d %02d:%02d:%02d".
std::wstring FormatUpdateTime(const SYSTEMTIME& time);

// Opens the start page (when there is one) and starts the product when its program exists. `window` keeps its
// pending messages flowing for up to 100 ms first.
void LaunchProduct(HWND window, const std::wstring& startUrl, const std::wstring& startExePath);

} // namespace Records
