// dbgcapture: runs a program under a minimal debugger and writes every debug-output line it emits (and every
// thread name it announces) to a file as UTF-8, one record per debug-output call.
//
//   dbgcapture.exe OUTFILE PROGRAM [ARGUMENTS...]
//
// Exits with the program's exit code. Support staff and the end-to-end tests use it to read the installer's log:
// the installer has no log file, only the system's debug-output channel.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "utils/ScopedWin.h"
#include "utils/TextConv.h"
#include "utils/Thread.h"

namespace {

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::string ReadRemoteString(HANDLE process, const void* address, size_t units, bool wide) {
    if (address == nullptr || units == 0) {
        return {};
    }
    size_t bytes = units * (wide ? 2 : 1);
    std::vector<char> buffer(bytes + 2, 0);
    SIZE_T read = 0;
    if (!::ReadProcessMemory(process, address, buffer.data(), bytes, &read)) {
        return {};
    }
    if (wide) {
        std::wstring text(reinterpret_cast<const wchar_t*>(buffer.data()), read / 2);
        return Utils::WideToMultiByte(text.c_str(), Utils::kCodePageUtf8);
    }
    // The text reaches a debugger in the ANSI code page.
    std::string ansi(buffer.data(), read);
    return Utils::WideToMultiByte(Utils::MultiByteToWide(ansi.c_str(), Utils::kCodePageAnsi), Utils::kCodePageUtf8);
}

} // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    Utils::UniqueLocalMem argvOwner(reinterpret_cast<HLOCAL>(argv));
    if (argv == nullptr || argc < 3) {
        std::fputs("usage: dbgcapture.exe OUTFILE PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    Utils::UniqueFile out(::_wfopen(argv[1], L"wb"));
    if (!out) {
        std::fputs("dbgcapture: cannot open the output file\n", stderr);
        return 2;
    }
    std::wstring commandLine;
    for (int i = 2; i < argc; ++i) {
        commandLine += (i > 2 ? L" " : L"") + QuoteArgument(argv[i]);
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                          nullptr, &si, &pi)) {
        std::fprintf(stderr, "dbgcapture: cannot start the program (%lu)\n", ::GetLastError());
        return 2;
    }
    Utils::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    DWORD exitCode = 0;
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, INFINITE)) {
            break;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const auto& info = event.u.DebugString;
            std::string text = ReadRemoteString(process.get(), info.lpDebugStringData, info.nDebugStringLength,
                                                info.fUnicode != 0);
            while (!text.empty() && text.back() == '\0') {
                text.pop_back();
            }
            std::fwrite(text.data(), 1, text.size(), out.get());
            if (text.empty() || text.back() != '\n') {
                std::fputc('\n', out.get());
            }
            std::fflush(out.get());
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& r = event.u.Exception.ExceptionRecord;
            if (r.ExceptionCode == Utils::kSetThreadNameException && r.NumberParameters >= 3) {
                std::string name = ReadRemoteString(process.get(),
                                                    reinterpret_cast<const void*>(r.ExceptionInformation[1]), 64, false);
                name = name.c_str();
                std::fprintf(out.get(), "THREADNAME %lu %s\n", static_cast<unsigned long>(r.ExceptionInformation[2]),
                             name.c_str());
                std::fflush(out.get());
            } else if (r.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != nullptr) {
                Utils::UniqueHandle image(event.u.CreateProcessInfo.hFile);
            }
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != nullptr) {
                Utils::UniqueHandle image(event.u.LoadDll.hFile);
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exitCode = event.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default:
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    return static_cast<int>(exitCode);
}
