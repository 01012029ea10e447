// The install job: runs the downloaded package hidden with the user's choices on its command line and turns the
// lines it prints into status events (install/StatusCodes.h) on the orchestrator's install relay.
//
// Threads: Start runs on the download worker; Run and ParseLine on the install thread ("ABDEF"), which alone
// touches `codePage` and `process` while it runs. The orchestrator writes installDir and the two options before
// it starts the download, that is before Start reads them.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "install/ConsoleProcess.h"
#include "install/ConsoleProtocol.h"
#include "install/JobLines.h"
#include "utils/Thread.h"

class CPackageInstaller {
public:
    CPackageInstaller(DownloadCallback callback, const std::wstring& packagePath, const std::wstring& installDir,
                      bool desktopShortcut, bool quickLaunch);
    CPackageInstaller(const CPackageInstaller&) = delete;
    CPackageInstaller& operator=(const CPackageInstaller&) = delete;
    // Waits for the install thread, and so for a running package, to end.
    ~CPackageInstaller();

    // Builds the command line and starts the install thread; waits first for an earlier one.
    void Start();
    // The package's command line from the fields and the configuration's InstCmd.
    std::wstring BuildCommandLine() const;
    static std::wstring BuildCommandLine(const std::wstring& packagePath, const std::wstring& installDir,
                                         bool desktopShortcut, bool quickLaunch, const std::wstring& instCmd);
    // Body of the install thread.
    unsigned long Run();
    // What one decoded line of the package says; an "Encode=" line changes `codePage` here.
    ConsoleProtocol::LineOutcome ParseLine(const std::wstring& line);
    // The line handling of one run of the package (tests feed it reads of their own).
    JobLines::Reader MakeReader();

    // Reads while nothing is decided: the protocol's reads are at most this size. Once the outcome is known the
    // rest of the output is only drained, in larger reads.
    static constexpr size_t kReadSize = 1024;
    static constexpr size_t kDrainReadSize = 65536;
    // The message of IST_CODE_REFUSED.
    static constexpr const wchar_t* kRefusedText = L"安装包校验失败，请重新下载";
    // The message of an IST_CODE_FAIL that the package's own lines did not word.
    static constexpr const wchar_t* kFailText = L"安装包安装失败";

    DownloadCallback callback_;
    std::wstring packagePath_;
    std::wstring installDir_;
    std::wstring commandLine_;
    bool quickLaunch_ = true;
    bool desktopShortcut_ = true;
    int codePage_ = 0;
    // Why the last run failed, in words, when the package's own lines did not say (set before the failure is
    // reported, so whoever heard the report may read it).
    std::wstring problem_;
    std::unique_ptr<Utils::Thread> thread_;
    std::unique_ptr<CConsoleProcess> process_;
    // Called on the install thread once the package has passed its checks, before it starts, while the checked file
    // is still held; false: the package is not run (whoever returned false has reported why). None: it runs.
    std::function<bool()> beforeRun_;
    // Called on the install thread as its last act, once the package has ended and its handles are closed.
    std::function<void()> ended_;

private:
    void NotifyEnded();
};

// True when Windows can decode text in `codePage` (0, the ANSI code page, always can).
bool IsUsableCodePage(long codePage);
