#include "app/Startup.h"

#include <cstring>

#include "utils/DebugLog.h"
#include "utils/LogFile.h"
#include "utils/TextConv.h"

namespace App {

const wchar_t* const kPreloadedLibraries[9] = {
    L"\\version.dll", L"\\ws2_32.dll",  L"\\sxs.dll",     L"\\dwmapi.dll",        L"\\msimg32.dll",
    L"\\d3d8.dll",    L"\\ieframe.dll", L"\\ws2help.dll", L"\\WindowsCodecs.dll",
};

namespace {

// The library `name` from the system folder, never from a search by name: LOAD_LIBRARY_SEARCH_SYSTEM32 where the
// loader knows it (every supported Windows), the full path where it does not.
HMODULE LoadFromSystemFolder(const char* name) {
    HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        char path[MAX_PATH] = {};
        UINT n = ::GetSystemDirectoryA(path, MAX_PATH);
        if (n != 0 && n + 1 + std::strlen(name) < MAX_PATH) {
            path[n] = '\\';
            std::strcpy(path + n + 1, name);
            module = ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return module;
}

} // namespace

FARPROC WINAPI DelayLoadNotify(unsigned notify, PDelayLoadInfo info) {
    if (notify != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) {
        return nullptr;
    }
    HMODULE module = LoadFromSystemFolder(info->szDll);
    if (module == nullptr) {
        // A null answer would make the delay-load helper try LoadLibraryA(name), whose search may reach the
        // installer's folder: the process ends instead. Only a damaged system lacks these libraries.
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"%hs not loaded from the system folder: %lu; the installer ends", info->szDll, error);
        ::ExitProcess(kExitLibraryMissing);
    }
    return reinterpret_cast<FARPROC>(module);
}

void PreloadSystemLibraries() {
    __pfnDliNotifyHook2 = DelayLoadNotify;
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
        auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (setDefault != nullptr) {
            setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
    }
    ::SetDllDirectoryW(L"");
    wchar_t system[MAX_PATH] = {};
    UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return;
    }
    for (const wchar_t* name : kPreloadedLibraries) {
        // Missing libraries are skipped; loaded ones stay mapped for the process's life on purpose.
        ::LoadLibraryW((std::wstring(system) + name).c_str());
    }
}

SingleInstance::SingleInstance() {
    mutex_.reset(::CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    if (mutex_ && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        mutex_.reset();
    }
}

SingleInstance::~SingleInstance() {
    if (mutex_) {
        ::ReleaseMutex(mutex_.get());
    }
}

const wchar_t kUnsupportedWindowsText[] =
    L"此安装程序需要 Windows 7 SP1 及 KB2533623 更新或更高版本的 Windows，无法在当前系统上运行。";

bool MeetsWindowsFloor(unsigned major, unsigned minor, unsigned servicePackMajor, bool hasDefaultDllDirectories) {
    // Without the loader update every library load by name may search the installer's folder first: the planted
    // DLL beside a downloaded installer would run as administrator.
    if (!hasDefaultDllDirectories) {
        return false;
    }
    if (major != 6) {
        return major > 6;
    }
    return minor > 1 || (minor == 1 && servicePackMajor >= 1);
}

namespace {

bool ReadVersion(OSVERSIONINFOEXW& version) {
    version = OSVERSIONINFOEXW{};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // The manifest declares every Windows up to 10, so the answer is not capped at 6.2; a capped answer would only
    // be higher than the floor anyway.
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) != FALSE;
#pragma GCC diagnostic pop
}

bool HasLoaderUpdate() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && ::GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr;
}

} // namespace

bool RunsOnSupportedWindows() {
    OSVERSIONINFOEXW version;
    if (!ReadVersion(version)) {
        DEBUG_LOG(L"GetVersionExW failed: %lu", ::GetLastError());
        return false;
    }
    if (MeetsWindowsFloor(version.dwMajorVersion, version.dwMinorVersion, version.wServicePackMajor,
                          HasLoaderUpdate())) {
        return true; // WindowsFacts() is logged with the log's header, after the line that names the log file
    }
    DEBUG_LOG(L"below the floor: %s", WindowsFacts().c_str());
    return false;
}

std::wstring WindowsFacts() {
    OSVERSIONINFOEXW version;
    if (!ReadVersion(version)) {
        return L"Windows unknown";
    }
    wchar_t text[128];
    Utils::FormatBounded(text, L"Windows %lu.%lu.%lu SP%u, SetDefaultDllDirectories %ls", version.dwMajorVersion,
                         version.dwMinorVersion, version.dwBuildNumber,
                         static_cast<unsigned>(version.wServicePackMajor),
                         HasLoaderUpdate() ? L"present" : L"missing (no KB2533623)");
    return text;
}

namespace {

const wchar_t* LayerName(InstallerConfig::Layer layer) {
    switch (layer) {
    case InstallerConfig::Layer::Ini:
        return L"ini";
    case InstallerConfig::Layer::CommandLine:
        return L"command line";
    case InstallerConfig::Layer::Default:
        break;
    }
    return L"default";
}

} // namespace

std::vector<std::wstring> LogHeaderLines(const InstallerConfig& config, const std::wstring& installerVersion,
                                         const std::wstring& windowsName, const std::wstring& accountLine) {
    const InstallerConfig::Sources& from = config.sources;
    wchar_t scale[64];
    Utils::FormatBounded(scale, L"%g", config.DownloadScale);
    std::vector<std::wstring> lines = {
        L"TunivoxSetup " + installerVersion + L", Windows " + windowsName,
        accountLine,
        L"DownloadUrl=" + Utils::UrlForLog(config.DownloadUrl) + L" (" + LayerName(from.DownloadUrl) + L")",
        L"DownloadType=" + Utils::Decimal(config.DownloadType) + L" (" + LayerName(from.DownloadType) + L")",
        std::wstring(L"IsCheckNet=") + (config.IsCheckNet ? L"true" : L"false") + L" (" + LayerName(from.IsCheckNet) +
            L")",
        L"DownloadScale=" + std::wstring(scale) + L" (" + LayerName(from.DownloadScale) + L")",
        L"InstCmd=" + config.InstCmd + L" (" + LayerName(from.InstCmd) + L")",
        L"DownloadConnections=" + Utils::Decimal(config.DownloadConnections) + L" (" +
            LayerName(from.DownloadConnections) + L")",
        L"ini file: " + (config.IniPath.empty() ? std::wstring(L"none") : config.IniPath),
    };
    for (const std::wstring& key : config.IgnoredIniKeys) {
        lines.push_back(L"ignored ini key: " + key);
    }
    for (const std::wstring& name : config.IgnoredArguments) {
        lines.push_back(L"ignored argument: " + name);
    }
    return lines;
}

std::wstring InstallerVersion() {
    // The fixed part of the version block starts with its signature; no version library is needed to find it.
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    HGLOBAL loaded = found != nullptr ? ::LoadResource(nullptr, found) : nullptr;
    const BYTE* data = loaded != nullptr ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    const DWORD size = found != nullptr ? ::SizeofResource(nullptr, found) : 0;
    for (DWORD at = 0; data != nullptr && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO fixed;
        memcpy(&fixed, data + at, sizeof(fixed));
        if (fixed.dwSignature == 0xFEEF04BD) {
            wchar_t text[48];
            Utils::FormatBounded(text, L"%u.%u.%u.%u", HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                                 HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS));
            return text;
        }
    }
    return L"?";
}

std::wstring AdminDiagnosticText(const std::wstring& userName, bool userIsAdmin, bool processIsAdmin) {
    wchar_t text[256];
    Utils::FormatBounded(text, 256, L"管理员权限：1.用户名=%s；2.用户权限=%s；3.进程权限=%s", userName.c_str(),
                         userIsAdmin ? L"是" : L"否", processIsAdmin ? L"是" : L"否");
    return text;
}

} // namespace App
