#include "install/Folders.h"

#include <shlwapi.h>

#include <cwchar>
#include <string>

#include "utils/DebugLog.h"

bool CreateDirectoryChain(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    size_t length = std::wcslen(path);
    if (length > MAX_PATH) {
        return false;
    }
    // Prefixes are tested with their trailing backslash (C:\ , then C:\Apps\), so drive roots pass.
    for (size_t i = 0; i < length; ++i) {
        if (path[i] != L'\\') {
            continue;
        }
        wchar_t prefix[MAX_PATH + 1] = {};
        std::wmemcpy(prefix, path, i + 1);
        if (!::PathFileExistsW(prefix) && !::CreateDirectoryW(prefix, nullptr)) {
            DWORD error = ::GetLastError();
            DEBUG_LOG(L"CreateDirectoryW(%s) failed: %lu", prefix, error);
            return false;
        }
    }
    const wchar_t* last = std::wcsrchr(path, L'\\');
    bool nameFollows = last == nullptr ? length > 0 : last[1] != L'\0';
    if (nameFollows && !::PathFileExistsW(path) && !::CreateDirectoryW(path, nullptr)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"CreateDirectoryW(%s) failed: %lu", path, error);
        return false;
    }
    return true;
}

bool GetPrivateTempFolder(wchar_t (&folder)[MAX_PATH]) {
    wchar_t temp[MAX_PATH] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) {
        return true;
    }
    std::wstring path = std::wstring(temp) + PRIVATE_TEMP_FOLDER_NAME;
    if (path.size() >= MAX_PATH) {
        return true;
    }
    if (!::PathFileExistsW(path.c_str()) && !::CreateDirectoryW(path.c_str(), nullptr)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"CreateDirectoryW(%s) failed: %lu", path.c_str(), error);
        return true;
    }
    std::wmemcpy(folder, path.c_str(), path.size() + 1);
    return false;
}
