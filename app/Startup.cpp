#include "app/Startup.h"

#include "utils/DebugLog.h"

namespace App {

const wchar_t* const kPreloadedLibraries[9] = {
    L"\\version.dll", L"\\ws2_32.dll",  L"\\sxs.dll",      L"\\dwmapi.dll",        L"\\msimg32.dll",
    L"\\d3d8.dll",    L"\\ieframe.dll", L"\\ws2help.dll", L"\\WindowsCodecs.dll",
};

void PreloadSystemLibraries() {
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

std::wstring AdminDiagnosticText(const std::wstring& userName, bool userIsAdmin, bool processIsAdmin) {
    wchar_t text[256];
    Utils::FormatBounded(text, 256, L"管理员权限：1.用户名=%s；2.用户权限=%s；3.进程权限=%s", userName.c_str(),
                         userIsAdmin ? L"是" : L"否", processIsAdmin ? L"是" : L"否");
    return text;
}

} // namespace App
