#include "records/Records.h"

#include <mmsystem.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

#include "install/Folders.h"
#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/Paths.h"
#include "utils/Probes.h"
#include "utils/ScopedWin.h"
#include "utils/ShellStart.h"

namespace Records {

namespace {

bool FileExists(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Utils::UniqueHKey CreateRecordKey() {
    Utils::UniqueHKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        key.reset();
    }
    return key;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    // Stored without the terminating null, as the record always was; readers accept both forms.
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The ini functions write by name: an ini reached through a link would have the elevated installer write a file
// of someone else's choosing.
bool MayWriteIni(const std::wstring& path) {
    const Utils::Status linked = Utils::CheckNoLinkAt(path);
    if (!linked) {
        DEBUG_LOG(L"%s not written: %s", path.c_str(), linked.What().c_str());
    }
    return linked.Ok();
}

std::wstring OwnFileName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathStripPathW(path);
    return path;
}

} // namespace

bool ReadRegistryString(const wchar_t* valueName, std::wstring& out) {
    Utils::UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    // Room for the value plus a terminator, zeroed, so a value stored without its null still ends.
    size_t chars = size / sizeof(wchar_t) + 2;
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[chars]());
    DWORD bytes = size;
    if (::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.get()), &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    out = buffer.get();
    return true;
}

InstallRecord ReadInstallRecord() {
    InstallRecord record;
    ReadRegistryString(L"InstallPath", record.installPath);
    ReadRegistryString(L"UnInstallEp", record.uninstallerPath);
    if (record.uninstallerPath.empty() && !record.installPath.empty()) {
        record.uninstallerPath = record.installPath + L"\\" + kUninstallerMarker;
    }
    return record;
}

bool WriteInstallRecord(const std::wstring& installPath, std::wstring& uninstallerPath) {
    bool written = false;
    if (Utils::UniqueHKey key = CreateRecordKey()) {
        written = SetString(key.get(), L"InstallPath", installPath);
    }
    if (uninstallerPath.empty()) {
        uninstallerPath = installPath + L"\\" + kUninstallerMarker;
    }
    // The record describes this installation only: without its marker no uninstaller is recorded, and an earlier
    // installation's value goes.
    Utils::UniqueHKey key = CreateRecordKey();
    if (FileExists(uninstallerPath)) {
        written = key && SetString(key.get(), L"UnInstallEp", uninstallerPath) && written;
    } else if (key) {
        const LSTATUS removed = ::RegDeleteValueW(key.get(), L"UnInstallEp");
        written = (removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND) && written;
    }
    return written;
}

std::wstring TrackerFolder() {
    wchar_t base[MAX_PATH] = {};
    DWORD n = ::GetEnvironmentVariableW(L"APPDATA", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        base[0] = L'\0';
        ::SHGetSpecialFolderPathW(nullptr, base, CSIDL_COMMON_DOCUMENTS, FALSE);
    }
    return Utils::JoinPath(Utils::JoinPath(base, L"PellData"), L"Tunivox");
}

std::wstring FormatUpdateTime(const SYSTEMTIME& t) {
    wchar_t text[128];
    Utils::FormatBounded(text, L"%d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                         t.wSecond);
    return text;
}

bool WriteSetIni(const std::wstring& installPath) {
    std::wstring setIni = Utils::JoinPath(installPath, L"set.ini");
    if (setIni.empty() || !MayWriteIni(setIni)) {
        return false;
    }
    bool written = ::WritePrivateProfileStringW(L"Install", L"APPStore", OwnFileName().c_str(), setIni.c_str());
    written = ::WritePrivateProfileStringW(L"Install", L"AppName", L"Tunivox", setIni.c_str()) && written;
    written = ::WritePrivateProfileStringW(L"Install", L"DeviceID", Utils::CreateDeviceId().c_str(), setIni.c_str()) &&
              written;

    // Checked before its folders are made, as those would be made through a link too.
    std::wstring folder = TrackerFolder();
    std::wstring tracker = folder + L"\\VetraTracker.ini";
    if (folder.empty() || !MayWriteIni(tracker) || !CreateDirectoryChain(folder.c_str())) {
        return false;
    }
    written =
        ::WritePrivateProfileStringW(L"Install", L"PellSoftTrackerIni", tracker.c_str(), setIni.c_str()) && written;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    written =
        ::WritePrivateProfileStringW(L"Init", L"UpdateTime", FormatUpdateTime(now).c_str(), tracker.c_str()) && written;
    return written;
}

void LaunchProduct(HWND window, const std::wstring& startUrl, const std::wstring& startExePath) {
    // Without a start page there is nothing to open: the shell would be handed an empty target. Both the page (the
    // package names it) and the product (in a folder the user can write) are opened by the desktop shell, with the
    // user's own rights, never with the installer's.
    if (!startUrl.empty()) {
        const Utils::Status opened = Utils::ShellStartUnelevated(startUrl, L"", SW_SHOWMAXIMIZED);
        if (opened) {
            DEBUG_LOG(L"start page opened through the desktop shell");
        } else {
            DEBUG_LOG(L"start page not opened: %s", opened.What().c_str());
        }
    }
    if (!FileExists(startExePath)) {
        return;
    }
    // Let the window handle what is pending (the page change, a repaint) before the product takes the screen.
    DWORD start = ::timeGetTime();
    MSG msg{};
    bool sawQuit = false;
    while (window == nullptr || ::IsWindow(window)) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (::timeGetTime() - start > 100) {
                break;
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        if (msg.message == WM_QUIT) {
            sawQuit = true;
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        if (::timeGetTime() - start > 100) {
            break;
        }
    }
    if (sawQuit) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
    }
    const Utils::Status started = Utils::ShellStartUnelevated(startExePath, L"", SW_SHOWNORMAL);
    if (started) {
        DEBUG_LOG(L"product started through the desktop shell (un-elevated): %s", startExePath.c_str());
    } else {
        DEBUG_LOG(L"product not started: %s", started.What().c_str());
    }
}

} // namespace Records
