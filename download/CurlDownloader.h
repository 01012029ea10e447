// The default downloader: libcurl on a worker thread, with a HEAD request, a resumable partial file and a retry
// budget. Reports (on the worker): DL_CODE_START, any number of DL_CODE_PROGRESS, then exactly one of
// DL_CODE_SUCCESS ("LibCurl") or DL_CODE_FAIL (the last attempt's code, "LibCurl", followed by ": " and the
// reason when the server's certificate was refused or the attempt failed at the proxy).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "download/CurlClient.h"
#include "download/Downloader.h"
#include "utils/Status.h"
#include "utils/Thread.h"

class CCurlDownloader : public CDownloader {
public:
    // A partial file left by an earlier run is resumed only when its state file names this URL, the length and
    // the validator the server gives now, and the server confirms it; the first attempt deletes it otherwise.
    // `lowSpeedTime` is the stall limit in seconds (tests shorten it); `proxyOption` is the "-proxy" value (empty:
    // the system's proxy settings); `connections` the most ranges fetched at once (1: one stream).
    CCurlDownloader(const DownloadCallback& callback, const wchar_t* url, const wchar_t* path,
                    long lowSpeedTime = kLowSpeedTimeSeconds, const std::wstring& proxyOption = L"",
                    int connections = kDefaultConnections);
    // Cancels a running transfer and waits for the worker. The partial file stays for a later run when it can be
    // resumed (see CurlClient); otherwise the client deletes it.
    ~CCurlDownloader() override;
    CCurlDownloader(const CCurlDownloader&) = delete;
    CCurlDownloader& operator=(const CCurlDownloader&) = delete;

    // Waits for a previous worker of this object, then runs a new sequence on a new worker; ignored while a
    // sequence is under way (until its terminal report).
    void Start() override;

    static unsigned long dlThreadFun(void* self);
    static void OnClientProgress(void* owner, double speed, double reserved, double percent);

    DownloadCallback callback_;
    std::wstring path_;
    std::wstring url_;
    std::wstring proxyOption_;
    CurlClient client_;
    std::unique_ptr<Utils::Thread> thread_;
    std::atomic<bool> running_{false};
    // The highest percent reported in this sequence (written on the worker only).
    double shownPercent_ = 0.0;
};

// Whether the server of `url` has the file: a HEAD request through the proxy the download would use (`proxyOption`
// as for the downloader), answered within `seconds` with a success after the redirections the download would
// follow.
Utils::Status ServerHasFile(const std::wstring& url, const std::wstring& proxyOption, long seconds);
