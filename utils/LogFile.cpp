#include "utils/LogFile.h"

#include <shlobj.h>

#include <algorithm>

#include "utils/DebugLog.h"
#include "utils/Links.h"
#include "utils/ScopedWin.h"
#include "utils/Security.h"
#include "utils/TextConv.h"

namespace Utils {

namespace {

constexpr wchar_t kPrefix[] = L"TunivoxSetup_";
constexpr wchar_t kSuffix[] = L".log";

// The open file and the lock that keeps lines of different threads whole (the one lock of the installer: the log
// is the one thing every thread writes).
struct LogFileState {
    LogFileState() { ::InitializeCriticalSection(&lock); }
    ~LogFileState() { ::DeleteCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    UniqueFileHandle file;
};
LogFileState g_log;

class Locked {
public:
    Locked() { ::EnterCriticalSection(&g_log.lock); }
    ~Locked() { ::LeaveCriticalSection(&g_log.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

void WriteToFile(const wchar_t* line) {
    std::string bytes = WideToMultiByte(line, CP_UTF8);
    Locked guard;
    if (!g_log.file || bytes.empty()) {
        return;
    }
    DWORD written = 0;
    // A failed write (a full disk) loses that line only; the installation never waits on its log.
    ::WriteFile(g_log.file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool AllDigits(const std::wstring& s, size_t from, size_t count) {
    if (from + count > s.size() || count == 0) {
        return false;
    }
    return std::all_of(s.begin() + from, s.begin() + from + count, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(temp);
}

void RemoveOldLogFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    UniqueFindHandle search(::FindFirstFileW((folder + kPrefix + L"*" + kSuffix).c_str(), &found));
    if (!search) {
        return;
    }
    do {
        // Folders and links are never ours to delete.
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
            names.emplace_back(found.cFileName);
        }
    } while (::FindNextFileW(search.get(), &found));
    for (const std::wstring& name : LogFilesToRemove(names, kKeptLogFiles)) {
        if (const Status deleted = DeleteWithoutLinks(folder + name); !deleted) {
            DEBUG_LOG(L"old log file %s kept: %s", (folder + name).c_str(), deleted.What().c_str());
        }
    }
}

// "%ProgramData%\TunivoxSetupLogs\" made (or found) for administrators only; empty when it cannot be used. The
// folder comes from the system, not from an environment variable the user can set.
std::wstring AdministratorsLogFolder(std::wstring& note) {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        note += L"; no ProgramData folder";
        return {};
    }
    std::wstring folder = std::wstring(common) + L"\\" + kAdministratorsLogFolderName;
    if (const Status usable = AdministratorsOnlyFolder(folder); !usable) {
        note += L"; " + folder + L" not used either: " + usable.What();
        return {};
    }
    return folder + L"\\";
}

} // namespace

std::wstring LogFileName(const SYSTEMTIME& t, DWORD processId) {
    wchar_t name[64];
    FormatBounded(name, L"%ls%04u%02u%02u_%02u%02u%02u_%lu%ls", kPrefix, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, static_cast<unsigned long>(processId), kSuffix);
    return name;
}

bool IsLogFileName(const std::wstring& name) {
    const size_t prefix = std::size(kPrefix) - 1, suffix = std::size(kSuffix) - 1;
    // prefix, 8 digits, '_', 6 digits, '_', at least one digit, suffix
    if (name.size() < prefix + 8 + 1 + 6 + 1 + 1 + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0) {
        return false;
    }
    const size_t pidStart = prefix + 16, pidEnd = name.size() - suffix;
    return AllDigits(name, prefix, 8) && name[prefix + 8] == L'_' && AllDigits(name, prefix + 9, 6) &&
           name[prefix + 15] == L'_' && AllDigits(name, pidStart, pidEnd - pidStart);
}

std::vector<std::wstring> LogFilesToRemove(std::vector<std::wstring> existing, size_t kept) {
    std::erase_if(existing, [](const std::wstring& name) { return !IsLogFileName(name); });
    // The fixed-width date and time make the name order the order of the runs.
    std::sort(existing.begin(), existing.end());
    const size_t keepOld = kept > 0 ? kept - 1 : 0;
    if (existing.size() <= keepOld) {
        return {};
    }
    existing.resize(existing.size() - keepOld);
    return existing;
}

std::wstring UrlForLog(const std::wstring& url) {
    std::wstring out = url.substr(0, url.find_first_of(L"?#"));
    const size_t scheme = out.find(L"://");
    const size_t authority = scheme == std::wstring::npos ? 0 : scheme + 3;
    const size_t pathStart = std::min(out.find(L'/', authority), out.size());
    const size_t at = out.rfind(L'@', pathStart);
    if (at != std::wstring::npos && at >= authority && at < pathStart) {
        out.erase(authority, at + 1 - authority);
    }
    return out;
}

std::wstring OpenLogFile(const std::wstring& path, bool elevated) {
    // Why the file is where it is, or why there is none: logged after the line that names the file.
    std::wstring note;
    std::wstring target = path;
    DWORD disposition = OPEN_ALWAYS;
    if (!target.empty()) {
        // A file in a folder that does not exist is no log at all: the default place serves instead.
        wchar_t full[MAX_PATH] = {};
        DWORD n = ::GetFullPathNameW(target.c_str(), MAX_PATH, full, nullptr);
        std::wstring folder = n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(full);
        folder = folder.substr(0, folder.find_last_of(L'\\') + 1);
        const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            note = L" (-log=" + target + L": no such folder, so the log is here)";
            target.clear();
        }
    }
    if (target.empty()) {
        std::wstring folder = TempFolder();
        const Status unlinked = folder.empty() ? Status() : CheckNoReparsePointOnPath(folder);
        if (elevated && !unlinked) {
            // %TEMP% follows HKCU\Environment: whoever can write there can point it anywhere.
            note += L"; temporary folder not used for the log: " + unlinked.What();
            folder = AdministratorsLogFolder(note);
        }
        if (folder.empty()) {
            DEBUG_LOG(L"log file: none%s", note.c_str());
            return {};
        }
        RemoveOldLogFiles(folder);
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        target = folder + LogFileName(now, ::GetCurrentProcessId());
        // The name is predictable (time and process id): whatever is planted under it is not taken, the file must
        // be new.
        disposition = CREATE_NEW;
    } else {
        wchar_t full[MAX_PATH] = {};
        DWORD n = ::GetFullPathNameW(target.c_str(), MAX_PATH, full, nullptr);
        if (n == 0 || n >= MAX_PATH) {
            DEBUG_LOG(L"log file: none (%s is no usable path)", target.c_str());
            return {};
        }
        target = full;
    }
    Result<UniqueFileHandle> file =
        OpenWithoutLinks(target, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, disposition);
    if (!file) {
        DEBUG_LOG(L"log file: none (%s not opened: %s)%s", target.c_str(), file.Failure().What().c_str(), note.c_str());
        return {};
    }
    {
        Locked guard;
        g_log.file = std::move(*file);
    }
    SetLogTee(WriteToFile);
    DEBUG_LOG(L"log file: %s%s", target.c_str(), note.c_str());
    return target;
}

void CloseLogFile() {
    SetLogTee(nullptr);
    Locked guard;
    g_log.file.reset();
}

} // namespace Utils
