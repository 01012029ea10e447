// The removal job: checks a private copy of the previous installation's uninstaller as a package is checked, runs
// it hidden with the old folder (never when the check fails: a removal failure), and follows it through the four keys of the console protocol (5000-series events on the removal relay).
//
// Threads: Start runs on the UI thread; Run and ParseLine on the removal thread ("UnInstaller"), which alone
// touches `codePage` and `process`. The first decisive line is reported at once (after a success the orchestrator
// starts the download from this thread); the job then reads the rest of the output unparsed until the
// uninstaller has ended.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "install/ConsoleProcess.h"
#include "install/ConsoleProtocol.h"
#include "install/JobLines.h"
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
    // What one decoded line of the uninstaller says; an "Encode=" line changes `codePage` here.
    ConsoleProtocol::LineOutcome ParseLine(const std::wstring& line);
    // The line handling of one run of the uninstaller (tests feed it reads of their own).
    JobLines::Reader MakeReader();

    static constexpr size_t kReadSize = 1024;

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
    // Checks the copy behind the held handle; empty when it may run, else why not. The default is the package's
    // check with the configuration's signer pins (Trust::VerifyUninstaller).
    std::function<std::wstring(HANDLE file, const std::wstring& path)> verify;

private:
    unsigned long RunUninstaller();
    void RemovePrivateCopy();
};
