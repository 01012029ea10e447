#include "download/WinDownloader.h"

#include <algorithm>

#include "download/CurlClient.h"
#include "utils/DebugLog.h"
#include "utils/LogFile.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kPauseMs = 1000;
} // namespace

std::wstring WinRequestUrl(const std::wstring& url) {
    if (url.rfind(L"file:///", 0) == 0) {
        return url;
    }
    return Utils::UrlEncode(url);
}

CWinDownloader::CBindCallback::~CBindCallback() {
    aborted_ = true;
    callback_ = nullptr;
}

HRESULT CWinDownloader::CBindCallback::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback) ||
        IsEqualIID(riid, IID_IBindStatusCallbackEx)) {
        *object = static_cast<IBindStatusCallbackEx*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CWinDownloader::CBindCallback::AddRef() {
    return 0;
}

ULONG CWinDownloader::CBindCallback::Release() {
    return 0;
}

HRESULT CWinDownloader::CBindCallback::OnStartBinding(DWORD, IBinding* bindingIn) {
    binding_ = bindingIn;
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::GetPriority(LONG*) {
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnLowResource(DWORD) {
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
    if (aborted_) {
        return E_ABORT;
    }
    if (progressMax == 0) {
        return S_OK;
    }
    if (callback_) {
        // After a switch to another URL the bar holds where it was until the new download passes it.
        shown_ = std::max(shown_, static_cast<double>(progress) / static_cast<double>(progressMax));
        callback_(DL_CODE_PROGRESS, shown_, L"");
    }
    return S_OK;
}

HRESULT CWinDownloader::CBindCallback::OnStopBinding(HRESULT, LPCWSTR) {
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::GetBindInfo(DWORD*, BINDINFO* bindInfo) {
    if (bindInfo != nullptr) {
        bindInfo->dwCodePage = Utils::kCodePageUtf8;
    }
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnObjectAvailable(REFIID, IUnknown*) {
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::GetBindInfoEx(DWORD*, BINDINFO*, DWORD*, DWORD*) {
    return E_NOTIMPL;
}

CWinDownloader::CWinDownloader(const DownloadCallback& callback, const wchar_t* url, const wchar_t* path)
    : callback_(callback), path_(path != nullptr ? path : L""), url_(url != nullptr ? url : L"") {}

CWinDownloader::~CWinDownloader() {
    bindCallback_.aborted_ = true;
    thread_.reset();
}

void CWinDownloader::Start() {
    // Two threads may ask (the removal job and the window): a sequence under way is never started again.
    if (running_.exchange(true)) {
        DEBUG_LOG(L"already running: start ignored");
        return;
    }
    thread_.reset(); // waits for the previous sequence's worker
    // Written before the worker starts, so the worker always sees it.
    bindCallback_.callback_ = callback_;
    thread_ = StartWorker(this, &dlThreadFun, running_, callback_, L"URLDownloadToFile");
}

unsigned long __stdcall CWinDownloader::dlThreadFun(void* param) {
    auto* self = static_cast<CWinDownloader*>(param);
    Utils::ComInit com;
    self->callback_(DL_CODE_START, 1.0, L"");
    if (self->path_.empty()) {
        self->running_ = false;
        self->callback_(DL_CODE_FAIL, 1.0, L"");
        return 0;
    }
    HRESULT result = E_FAIL;
    self->bindCallback_.shown_ = 0.0;
    const std::vector<std::wstring> urls = self->SequenceUrls(self->url_);
    for (size_t index = 0; index < urls.size() && result != S_OK && !self->bindCallback_.aborted_; ++index) {
        DEBUG_LOG(L"download from %s", Utils::UrlForLog(urls[index]).c_str());
        const std::wstring requestUrl = WinRequestUrl(urls[index]);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            result = ::URLDownloadToFileW(nullptr, requestUrl.c_str(), self->path_.c_str(), 0, &self->bindCallback_);
            if (result == S_OK) {
                self->NoteServed(index, urls[index]);
                break;
            }
            ::Sleep(kPauseMs);
            if (self->bindCallback_.aborted_) {
                break;
            }
        }
        if (result != S_OK) {
            DEBUG_LOG(L"left %s: %d attempts failed (last 0x%08lx)", Utils::UrlForLog(urls[index]).c_str(), kAttempts,
                      static_cast<unsigned long>(result));
        }
    }
    // Cleared before the terminal report: the owner may start the next sequence as soon as it hears it.
    self->running_ = false;
    if (result == S_OK) {
        // A partial download of the libcurl downloader (an earlier run of another download type) is of no use now.
        DeletePartFiles(self->path_);
        self->callback_(DL_CODE_SUCCESS, 0.0, L"URLDownloadToFile");
    } else {
        self->callback_(DL_CODE_FAIL, static_cast<double>(static_cast<long>(result)), L"URLDownloadToFile");
    }
    return 0;
}
