#include "tests/support/TestSupport.h"

#include <shellapi.h>

#include <cstdio>

#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

namespace TestSupport {

LogCapture::LogCapture() {
    Utils::SetLogSink(&LogCapture::Sink, this);
}

LogCapture::~LogCapture() {
    Utils::ResetLogSink();
}

void LogCapture::Sink(const wchar_t* line, void* context) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.emplace_back(line);
}

std::vector<std::wstring> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<std::wstring> LogCapture::LinesOf(const std::wstring& tag) const {
    std::vector<std::wstring> result;
    for (const std::wstring& line : Lines()) {
        size_t open = line.find(L'(');
        size_t close = line.find(L")<", open);
        if (open != std::wstring::npos && close != std::wstring::npos &&
            line.compare(open + 1, close - open - 1, tag) == 0) {
            result.push_back(line);
        }
    }
    return result;
}

std::wstring LogCapture::Message(const std::wstring& line) {
    size_t at = line.find(L">: ");
    return at == std::wstring::npos ? line : line.substr(at + 3);
}

unsigned long LogCapture::ThreadIdOf(const std::wstring& line) {
    size_t at = line.find(L"<T");
    return at == std::wstring::npos ? 0 : std::wcstoul(line.c_str() + at + 2, nullptr, 10);
}

TempDir::TempDir(const std::wstring& hint) {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        Utils::FormatBounded(name, MAX_PATH, L"%stvx_%s_%lu_%ld", base, hint.c_str(), ::GetCurrentProcessId(),
                             ::InterlockedIncrement(&counter));
        if (::CreateDirectoryW(name, nullptr)) {
            path_ = name;
            return;
        }
    }
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    Utils::UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &data));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    Utils::UniqueFile f(::_wfopen(path.c_str(), L"wb"));
    return f && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
}

std::string ReadBytes(const std::wstring& path) {
    Utils::UniqueFile f(::_wfopen(path.c_str(), L"rb"));
    std::string bytes;
    if (!f) {
        return bytes;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f.get())) > 0) {
        bytes.append(buffer, n);
    }
    return bytes;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ExePath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring ExeFolder() {
    std::wstring path = ExePath();
    return path.substr(0, path.find_last_of(L'\\'));
}

std::string Utf8(const std::wstring& text) {
    return Utils::WideToMultiByte(text, Utils::kCodePageUtf8);
}

ProcessResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& applicationName) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    Utils::UniqueHandle readEnd, writeEnd;
    if (!::CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0)) {
        result.exitCode = static_cast<DWORD>(-2);
        return result;
    }
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd.get();
    si.hStdError = writeEnd.get();
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi{};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), mutableLine.data(), nullptr,
                          nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        result.exitCode = static_cast<DWORD>(-3);
        return result;
    }
    Utils::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    writeEnd.reset();
    // Reads until the pipe breaks or the child has ended and nothing is left. Waiting for end-of-file alone is not
    // enough under Wine: a desktop process that the child starts on first use keeps a copy of the child's handles,
    // so the pipe may never break.
    char buffer[4096];
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr)) {
            break; // broken: every writer is gone
        }
        if (available > 0) {
            DWORD n = 0;
            if (!::ReadFile(readEnd.get(), buffer, sizeof(buffer), &n, nullptr) || n == 0) {
                break;
            }
            result.output.append(buffer, n);
            continue;
        }
        if (::WaitForSingleObject(process.get(), 20) == WAIT_OBJECT_0) {
            DWORD left = 0;
            if (!::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &left, nullptr) || left == 0) {
                break;
            }
        } else if (::GetTickCount() - start > timeoutMs) {
            break;
        }
    }
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 99);
    }
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

std::map<std::wstring, ChildFunction>& ChildModes() {
    static std::map<std::wstring, ChildFunction> modes;
    return modes;
}

ProcessResult RunChild(const std::wstring& mode, const std::wstring& args, const std::wstring& exe) {
    std::wstring path = exe.empty() ? ExePath() : exe;
    return RunCommand(L"\"" + path + L"\" --child=" + mode + (args.empty() ? L"" : L" " + args));
}

std::wstring HostPath(const std::wstring& path) {
    // Wine's own export: the Unix name of any Windows path.
    using ToUnixFn = char*(CDECL*)(LPCWSTR);
    static const auto toUnix = reinterpret_cast<ToUnixFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return {};
    }
    char* unixName = toUnix(path.c_str());
    if (unixName == nullptr) {
        return {};
    }
    std::wstring out = Utils::MultiByteToWide(unixName, Utils::kCodePageUtf8);
    ::HeapFree(::GetProcessHeap(), 0, unixName);
    return out;
}

bool RunHost(const std::wstring& commandLine, DWORD timeoutMs) {
    // Wine starts Linux programs but hands back no process handle to wait on: the program runs under /bin/sh,
    // which creates a marker file when it is done, and the marker is awaited instead.
    static LONG counter = 0;
    wchar_t marker[MAX_PATH];
    Utils::FormatBounded(marker, L"%s\\hostdone-%lu-%ld", ExeFolder().c_str(), ::GetCurrentProcessId(),
                         ::InterlockedIncrement(&counter));
    ::DeleteFileW(marker);
    std::wstring unixMarker = HostPath(marker);
    if (unixMarker.empty()) {
        return false;
    }
    std::wstring cmd = L"/bin/sh -c \"" + commandLine + L"; : > '" + unixMarker + L"'\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start %s: error %lu\n", Utf8(commandLine).c_str(), ::GetLastError());
        return false;
    }
    Utils::UniqueHandle process(pi.hProcess);
    Utils::UniqueHandle thread(pi.hThread);
    DWORD start = ::GetTickCount();
    while (!FileExists(marker)) {
        if (::GetTickCount() - start > timeoutMs) {
            fprintf(stderr, "%s did not finish\n", Utf8(commandLine).c_str());
            return false;
        }
        ::Sleep(20);
    }
    ::DeleteFileW(marker);
    return true;
}

bool HostSymlink(const std::wstring& target, const std::wstring& link) {
    const std::wstring from = HostPath(target);
    const std::wstring to = HostPath(link);
    return !from.empty() && !to.empty() && RunHost(L"/bin/ln -s '" + from + L"' '" + to + L"'") &&
           (::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES);
}

} // namespace TestSupport
