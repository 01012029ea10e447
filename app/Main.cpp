// Process entry of TunivoxSetup.exe: hardening, the single-instance lock, the network library, the command line,
// then the main window run modally until it closes.
#include <windows.h>

#include <curl/curl.h>

#include "app/Help.h"
#include "app/Startup.h"
#include "config/ConfigValues.h"
#include "config/InstallerConfig.h"
#include "install/PackageVerifier.h"
#include "sysinfo/Accounts.h"
#include "sysinfo/WindowsVersion.h"
#include "ui/MainWnd.h"
#include "ui/MainWndLogic.h"
#include "ui/SilentInstall.h"
#include "uikit/Toolkit.h"
#include "utils/DebugLog.h"
#include "utils/LogFile.h"
#include "utils/ScopedWin.h"

namespace {

// Takes no action: the system's own crash handling still applies.
LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

std::wstring SkinFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = (n == 0 || n >= MAX_PATH) ? L"" : std::wstring(path);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1);
    return folder + L"iskin";
}

int RunInstaller(HINSTANCE instance) {
    // Configuration from the command line, then the account facts for whoever reads the log.
    ApplyCommandLine();
    // The log file exists from here on; its first line names it ("log file: ..."), and nothing is logged before
    // it unless the start-up checks refuse to go on. The next lines say what support needs to know first.
    (void)Utils::OpenLogFile(g_installerConfig.LogPath, IsProcessAdmin());
    DEBUG_LOG(L"%s", App::WindowsFacts().c_str());
    std::wstring user;
    GetConsoleUserName(user);
    const std::wstring account = App::AdminDiagnosticText(user, IsUserAdmin(user), IsProcessAdmin());
    for (const std::wstring& line :
         App::LogHeaderLines(g_installerConfig, App::InstallerVersion(), GetWindowsVersionName(), account)) {
        DEBUG_LOG(L"%s", line.c_str());
    }
    // Read now, while the file behind the running image is still the one that was started.
    (void)Trust::InstallerPublisher();

    // The UI thread is a single-threaded apartment for its whole life: the folder picker needs it and the shell
    // calls that start the product expect it. Released after the window is gone.
    Utils::ComInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) {
        DEBUG_LOG(L"CoInitializeEx failed: 0x%08lx", static_cast<unsigned long>(com.result()));
    }
    if (g_installerConfig.Silent) {
        std::wstring reason;
        const int exitCode = RunSilentInstall(reason);
        DEBUG_LOG(L"%s", MainWndLogic::ResultLine(exitCode, reason).c_str());
        Utils::CloseLogFile();
        return exitCode;
    }
    UiKit::SetInstance(instance);
    UiKit::SetResourcePath(SkinFolder());
    {
        CMainWnd window;
        window.Create(nullptr, L"Lumetra音频转换器", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0);
        window.CenterWindow();
        window.ShowModal();
    } // the window's orchestrator and network-check worker are joined here
    DEBUG_LOG(L"%s", MainWndLogic::ResultLine(0, L"the window was closed").c_str());
    Utils::CloseLogFile();
    return 0;
}

// A run that ends before the installer proper (exit -1) still leaves a log that says why.
int EndEarly(const wchar_t* why) {
    ApplyCommandLine();
    (void)Utils::OpenLogFile(g_installerConfig.LogPath, IsProcessAdmin());
    DEBUG_LOG(L"%s", App::WindowsFacts().c_str());
    DEBUG_LOG(L"%s", MainWndLogic::ResultLine(-1, why).c_str());
    Utils::CloseLogFile();
    return -1;
}

} // namespace

// Library loading is hardened before any other static constructor runs (the configuration record is built
// during static construction and reads the Windows version and the ini file), so that nothing the process loads
// can come from the installer's own folder.
__attribute__((constructor(101))) static void HardenLibraryLoading() {
    App::PreloadSystemLibraries();
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    ::SetUnhandledExceptionFilter(TopLevelFilter);
    // Asking for the options runs nothing else, on any Windows and beside a running installer.
    if (Config::AsksForHelp(SplitCommandLine(::GetCommandLineW()))) {
        App::ShowHelp();
        return 0;
    }
    if (!App::RunsOnSupportedWindows()) {
        // No window was run: -1, as for a refused second instance.
        ::MessageBoxW(nullptr, App::kUnsupportedWindowsText, L"Lumetra音频转换器", MB_OK | MB_ICONERROR);
        return EndEarly(L"this Windows is older than the installer needs");
    }
    int exitCode = -1;
    {
        App::SingleInstance lock;
        if (lock.owned()) {
            ::curl_global_init(CURL_GLOBAL_ALL);
            exitCode = RunInstaller(instance);
        } else {
            exitCode = EndEarly(L"another installer is running");
        }
    } // the lock is released only after the window is gone
    return exitCode;
}
