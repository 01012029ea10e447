// planted.dll: stands in for a library that somebody saved beside the installer under a system library's name.
// When any process loads it, it creates "<its own path>.loaded", so a test can see that it was loaded. It exports
// nothing: a program that really needed a function from it would fail to start.
#include <windows.h>

#include <string>

#include "utils/ScopedWin.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH] = {};
        DWORD n = ::GetModuleFileNameW(instance, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            std::wstring marker = std::wstring(path) + L".loaded";
            Utils::UniqueFileHandle file(
                ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
    }
    return TRUE;
}
