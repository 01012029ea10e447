#include "install/Folders.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include <objbase.h>

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

std::wstring PrivateTempFolderName(unsigned long long random) {
    wchar_t name[32];
    Utils::FormatBounded(name, 32, L"%s%016llX\\", PRIVATE_TEMP_FOLDER_PREFIX, random);
    return name;
}

namespace {

bool RandomNumber(unsigned long long& random) {
    // Version-4 GUIDs come from the system's random number generator.
    GUID guid{};
    if (FAILED(::CoCreateGuid(&guid))) {
        return false;
    }
    unsigned long long high = (static_cast<unsigned long long>(guid.Data1) << 32) |
                              (static_cast<unsigned long long>(guid.Data2) << 16) | guid.Data3;
    unsigned long long low = 0;
    std::memcpy(&low, guid.Data4, sizeof(low));
    random = high ^ low;
    return true;
}

} // namespace

bool GetPrivateTempFolder(wchar_t (&folder)[MAX_PATH]) {
    wchar_t temp[MAX_PATH] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) {
        return true;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        unsigned long long random = 0;
        if (!RandomNumber(random)) {
            return true;
        }
        std::wstring path = std::wstring(temp) + PrivateTempFolderName(random);
        if (path.size() >= MAX_PATH) {
            return true;
        }
        // Fails when anything of that name exists: a folder made for us is never one somebody left there.
        if (!::CreateDirectoryW(path.c_str(), nullptr)) {
            DWORD error = ::GetLastError();
            DEBUG_LOG(L"CreateDirectoryW(%s) failed: %lu", path.c_str(), error);
            if (error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return true;
        }
        DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            DEBUG_LOG(L"private folder %s is not a plain folder (%lu)", path.c_str(), attributes);
            return true;
        }
        std::wmemcpy(folder, path.c_str(), path.size() + 1);
        return false;
    }
    return true;
}
