#include "install/Folders.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <objbase.h>
#include <shlobj.h>

#include "download/CurlClient.h"
#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/Security.h"

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

bool GetPrivateTempFolder(wchar_t (&folder)[MAX_PATH], const std::wstring& parent) {
    wchar_t temp[MAX_PATH] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (!parent.empty()) {
        n = static_cast<DWORD>(parent.size());
        if (n < MAX_PATH) {
            std::wmemcpy(temp, parent.c_str(), n + 1);
        }
    }
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

namespace {

std::wstring ProgramDataFolder() {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        return {};
    }
    return common;
}

// A new administrators-only folder `stable` + "." + 16 random hexadecimal digits; empty when none could be made.
std::wstring FreshWorkFolder(const std::wstring& stable) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        unsigned long long random = 0;
        if (!RandomNumber(random)) {
            return {};
        }
        wchar_t suffix[24];
        Utils::FormatBounded(suffix, L".%016llX", random);
        const std::wstring fresh = stable + suffix;
        const Utils::Status made = Utils::NewAdministratorsOnlyFolder(fresh);
        if (made) {
            return fresh;
        }
        DEBUG_LOG(L"working folder %s not made: %s", fresh.c_str(), made.What().c_str());
    }
    return {};
}

} // namespace

WorkFolder ChooseWorkFolder(bool elevated, const std::wstring& installDir) {
    if (!elevated) {
        return {installDir, true};
    }
    const std::wstring programData = ProgramDataFolder();
    if (programData.empty()) {
        DEBUG_LOG(L"no working folder: no ProgramData folder");
        return {};
    }
    // Any user may make folders in %ProgramData%: one found under the name is taken only when it is ours.
    const std::wstring stable = programData + L"\\" WORK_FOLDER_NAME;
    const bool exists = ::GetFileAttributesW(stable.c_str()) != INVALID_FILE_ATTRIBUTES;
    const Utils::Status usable =
        exists ? Utils::AdministratorsOnlyFolder(stable) : Utils::NewAdministratorsOnlyFolder(stable);
    if (usable) {
        DEBUG_LOG(L"working folder: %s", stable.c_str());
        return {stable, true};
    }
    DEBUG_LOG(L"working folder %s not used: %s", stable.c_str(), usable.What().c_str());
    WorkFolder fresh{FreshWorkFolder(stable), false};
    DEBUG_LOG(L"working folder: %s (for this run only)", fresh.path.empty() ? L"none" : fresh.path.c_str());
    return fresh;
}

Utils::Status CheckWorkFiles(const std::wstring& packagePath) {
    for (const std::wstring& path : {packagePath, PartPath(packagePath), PartStatePath(packagePath)}) {
        if (const Utils::Status linked = Utils::CheckNoLinkAt(path); !linked) {
            return Utils::Status::Failed(path + L": " + linked.What(), linked.Code());
        }
    }
    return {};
}

void RemoveWorkFolder(const WorkFolder& work, const std::wstring& packagePath) {
    if (work.resumable || work.path.empty()) {
        return;
    }
    // No package path: the download job was never made, and nothing was written.
    std::vector<std::wstring> files;
    if (!packagePath.empty()) {
        files = {packagePath, PartPath(packagePath), PartStatePath(packagePath)};
    }
    for (const std::wstring& path : files) {
        if (const Utils::Status deleted = Utils::DeleteWithoutLinks(path); !deleted) {
            DEBUG_LOG(L"%s not deleted: %s", path.c_str(), deleted.What().c_str());
        }
    }
    if (!::RemoveDirectoryW(work.path.c_str())) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"RemoveDirectoryW(%s) failed: %lu", work.path.c_str(), error);
    }
}
