#include "app/Help.h"

#include <windows.h>

#include <string>

#include "utils/ScopedWin.h"

namespace App {

const wchar_t kHelpText[] =
    L"TunivoxSetup.exe [options]   (each option as -option=value in one argument)\r\n"
    L"  -silent                 install without a window or dialog (also /S, /quiet, /silent, -SILENT);\r\n"
    L"                          accepts the licence agreement on behalf of the machine's user\r\n"
    L"  -instdir=PATH           install exactly into PATH (silent)\r\n"
    L"  -desktopshortcut=true|false, -quicklaunch=true|false   shortcuts (silent; default true)\r\n"
    L"  -downloadurl=URL        package URL            -downloadtype=N      2: the system downloader\r\n"
    L"  -ischecknet=true        network check on       -downloadscale=X     download share of the bar\r\n"
    L"  -instcmd=TEXT           extra package arguments\r\n"
    L"  -packagesigner=NAME     -packagesha256=HEX     the package must also match these\r\n"
    L"  -connections=N          byte ranges at once (1-16)\r\n"
    L"  -proxy=URL|direct       proxy of the libcurl downloader\r\n"
    L"  -mirrorurls=URL|URL...  tried in order after the download URL\r\n"
    L"  -package=PATH           install this package file instead of downloading one\r\n"
    L"  -log=PATH               the log file\r\n"
    L"  /?, -help, --help       this text\r\n"
    L"Exit codes of a silent run:\r\n"
    L"   0 installed and recorded           1 invalid folder\r\n"
    L"   2 less than 2 GiB free             3 no network\r\n"
    L"   4 the download failed              5 the package failed its verification\r\n"
    L"   6 the package reported a failure   7 removal of the earlier installation failed\r\n"
    L"   8 bad command line (a bad value or an unknown option)\r\n"
    L"   9 installed, but the installation could not be recorded\r\n"
    L"  -1 another installer is running, or this Windows is too old\r\n";

namespace {

bool WriteUtf8(HANDLE out) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, kHelpText, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return false;
    }
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, kHelpText, -1, text.data(), size, nullptr, nullptr);
    DWORD written = 0;
    return ::WriteFile(out, text.data(), static_cast<DWORD>(size - 1), &written, nullptr) != FALSE &&
           written == static_cast<DWORD>(size - 1);
}

} // namespace

void ShowHelp() {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD type = out != nullptr && out != INVALID_HANDLE_VALUE ? ::GetFileType(out) : FILE_TYPE_UNKNOWN;
    if ((type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) && WriteUtf8(out)) {
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        Utils::UniqueFileHandle console(
            ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD written = 0;
        const bool shown = console.valid() && ::WriteConsoleW(console.get(), kHelpText,
                                                              static_cast<DWORD>(wcslen(kHelpText)), &written, nullptr);
        ::FreeConsole();
        if (shown) {
            return;
        }
    }
    ::MessageBoxW(nullptr, kHelpText, L"Lumetra音频转换器", MB_OK | MB_ICONINFORMATION);
}

} // namespace App
