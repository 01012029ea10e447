#include "download/Downloader.h"

#include <algorithm>

#include "utils/DebugLog.h"

std::unique_ptr<Utils::Thread> StartWorker(void* downloader, Utils::Thread::Body body, std::atomic<bool>& running,
                                           const DownloadCallback& callback, const wchar_t* tag) {
    Utils::Result<std::unique_ptr<Utils::Thread>> worker = Utils::StartThread(downloader, L"ABDEF", std::move(body));
    if (worker) {
        return std::move(*worker);
    }
    DEBUG_LOG(L"no worker thread: %s", worker.Failure().What().c_str());
    running = false;
    callback(DL_CODE_START, 1.0, L"");
    callback(DL_CODE_FAIL, DL_ERR_THREAD_CREATE, tag);
    return nullptr;
}

bool CDownloader::SkipServedUrl() {
    if (served_ >= mirrors_.size()) {
        first_ = 0;
        return false;
    }
    first_ = served_ + 1;
    return true;
}

std::vector<std::wstring> CDownloader::SequenceUrls(const std::wstring& own) const {
    std::vector<std::wstring> urls{own};
    urls.insert(urls.end(), mirrors_.begin(), mirrors_.end());
    urls.erase(urls.begin(), urls.begin() + static_cast<std::ptrdiff_t>(std::min(first_, urls.size() - 1)));
    return urls;
}
