// The removal job: checks a private copy of the previous installation's uninstaller as a package is checked, runs
// it hidden with the old folder (never when the check fails: a removal failure), and follows it through the four keys
// of the console protocol (5000-series events on the removal relay).
//
// Threads: the orchestrator calls Run on the install thread, between the new package's checks and its start;
// Run alone touches `codePage` and `process`. The first decisive line is reported at once; the job then reads the
// rest of the output unparsed until the uninstaller has ended, and Run returns only then.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "install/ConsoleProcess.h"
#include "install/ConsoleProtocol.h"
#include "install/JobLines.h"

class CUnInstaller {
public:
    // The uninstaller's command line is formatted into 512 characters: 511 and the terminator.
    static constexpr size_t kCommandLineCapacity = 512;

    CUnInstaller(DownloadCallback callback, const std::wstring& uninstallerExe, const std::wstring& oldInstallDir);
    CUnInstaller(const CUnInstaller&) = delete;
    CUnInstaller& operator=(const CUnInstaller&) = delete;
    // "%s /S -console=show _?=%s"; empty when the line does not fit its buffer.
    static std::wstring BuildCommandLine(const std::wstring& uninstallerExe, const std::wstring& oldInstallDir);
    // Checks and runs the uninstaller to its end, then removes the private copy; the outcome is in the events.
    unsigned long Run();
    // What one decoded line of the uninstaller says; an "Encode=" line changes `codePage` here.
    ConsoleProtocol::LineOutcome ParseLine(const std::wstring& line);
    // The line handling of one run of the uninstaller (tests feed it reads of their own).
    JobLines::Reader MakeReader();

    static constexpr size_t kReadSize = 1024;

    DownloadCallback callback_;
    std::wstring commandLine_;
    std::wstring uninstallerExe_;
    std::wstring oldInstallDir_;
    // The folder made for this run's copy of the uninstaller: when set, the copy and the folder are deleted as
    // the job ends, however it ends.
    std::wstring privateFolder_;
    int codePage_ = 0;
    // Why the last run failed, in words, when the uninstaller's own lines did not say (set before the failure is
    // reported, so whoever heard the report may read it).
    std::wstring problem_;
    std::unique_ptr<CConsoleProcess> process_;

private:
    unsigned long RunUninstaller();
    void RemovePrivateCopy();
};
