// dbgcapture: runs a program under a minimal debugger and writes every debug-output line it emits (and every
// thread name it announces) to a file as UTF-8, one line per debug-output call.
//
//   dbgcapture.exe OUTFILE PROGRAM [ARGUMENTS...]
//
// Exits with the program's exit code. The installer has no log file, only the system's debug-output channel:
// support staff use this to read it, and the demo prints what it captured.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "tools/dbgcapture/DebugSession.h"
#include "utils/ScopedWin.h"

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
        commandLine += (i > 2 ? L" " : L"") + Tools::QuoteArgument(argv[i]);
    }
    FILE* file = out.get();
    Tools::DebugSession session(argv[2], commandLine, [file](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fputc('\n', file);
        std::fflush(file);
    });
    if (!session.started()) {
        std::fputs("dbgcapture: cannot start the program\n", stderr);
        return 2;
    }
    DWORD exitCode = 0;
    session.WaitForExit(INFINITE, &exitCode);
    return static_cast<int>(exitCode);
}
