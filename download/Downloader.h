// The one channel through which downloaders (and the jobs built on them) report to their owner, and the
// interface behind which the two downloaders are interchangeable.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "utils/Thread.h"

// (code, value, message): called on the reporter's worker thread.
using DownloadCallback = std::function<void(int code, double value, const wchar_t* message)>;

enum DownloadCode : int {
    DL_CODE_START = 1001,
    DL_CODE_PROGRESS = 1002,
    DL_CODE_SUCCESS = 1003,
    DL_CODE_FAIL = 1004,
};

// Value of the DL_CODE_FAIL that follows DL_CODE_START when no worker thread could be created; both reports then
// come from the thread that called Start.
// A value of its own: -995 is the libcurl downloader's refused server certificate.
constexpr int DL_ERR_THREAD_CREATE = -990;

// A downloader's worker ("ABDEF") running `body`. When none can start, `running` is cleared and the owner still
// hears the sequence's start and its one terminal report (DL_ERR_THREAD_CREATE, `tag`), from the calling thread.
std::unique_ptr<Utils::Thread> StartWorker(void* downloader, Utils::Thread::Body body, std::atomic<bool>& running,
                                           const DownloadCallback& callback, const wchar_t* tag);

class CDownloader {
public:
    // Owners delete downloaders through this interface, so destruction must reach the concrete class (which
    // stops and joins its worker).
    virtual ~CDownloader() = default;
    // Begins (or begins again) the download on a worker thread and returns at once.
    virtual void Start() = 0;
};
