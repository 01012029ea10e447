// The removal job: runs a private copy of the previous installation's uninstaller hidden, with the old folder,
// and follows it through the four keys of the console protocol (5000-series events on the removal relay).
//
// Threads: Start runs on the UI thread; Run and ParseOutput on the removal thread ("UnInstaller"), which alone
// touches `codePage` and `process`. A success line is reported at once (the orchestrator then starts the
// download from this thread) while the job keeps reading until the uninstaller has ended.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "install/ConsoleProcess.h"
#include "utils/Thread.h"

class CUnInstaller {
public:
    // The uninstaller's command line is formatted into 512 characters: 511 and the terminator.
    static constexpr size_t kCommandLineCapacity = 512;

    CUnInstaller(DownloadCallback callback, const std::wstring& uninstallerExe, const std::wstring& oldInstallDir);
    CUnInstaller(const CUnInstaller&) = delete;
    CUnInstaller& operator=(const CUnInstaller&) = delete;
    // Waits for the removal thread, and so for a running uninstaller, to end.
    ~CUnInstaller();

    void Start();
    // "%s /S -console=show _?=%s"; empty when the line does not fit its buffer.
    static std::wstring BuildCommandLine(const std::wstring& uninstallerExe, const std::wstring& oldInstallDir);
    unsigned long Run();
    int ParseOutput(const std::wstring& text);

    DownloadCallback callback;
    std::wstring commandLine;
    std::wstring uninstallerExe;
    std::wstring oldInstallDir;
    // The folder made for this run's copy of the uninstaller: when set, the copy and the folder are deleted as
    // the job ends, however it ends.
    std::wstring privateFolder;
    int codePage = 0;
    std::unique_ptr<Utils::Thread> thread;
    std::unique_ptr<CConsoleProcess> process;

private:
    unsigned long RunUninstaller();
    void RemovePrivateCopy();
    int ParseLines(const std::vector<std::string>& lines);
};
