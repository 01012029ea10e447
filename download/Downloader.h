// The one channel through which downloaders (and the jobs built on them) report to their owner, and the
// interface behind which the two downloaders are interchangeable.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

    // The URLs tried in order after the downloader's own (the mirrors); set before the first Start.
    void SetMirrors(std::vector<std::wstring> mirrors) { mirrors_ = std::move(mirrors); }
    // For a file that the last sequence fetched and that was then refused: the next Start begins at the URL after
    // the one that served it. False when there is none (the next Start then begins at the first URL again).
    // Called only between sequences.
    bool SkipServedUrl();
    // The URL that served the last sequence's file (empty before any did).
    const std::wstring& ServedUrl() const { return servedUrl_; }

protected:
    // The URLs of the next sequence: `own` and the mirrors, from the one SkipServedUrl chose on.
    std::vector<std::wstring> SequenceUrls(const std::wstring& own) const;
    // The sequence's URL at `index` (of SequenceUrls) served the file.
    void NoteServed(size_t index, const std::wstring& url) {
        served_ = first_ + index;
        servedUrl_ = url;
    }

private:
    std::vector<std::wstring> mirrors_;
    size_t first_ = 0;
    size_t served_ = 0;
    std::wstring servedUrl_;
};
