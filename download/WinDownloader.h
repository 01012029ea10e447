// The system downloader: URLDownloadToFileW on a worker thread that is its own COM apartment, with a bind-status
// object that turns the service's progress notifications into DL_CODE_PROGRESS. Three attempts one second apart;
// final reports carry "URLDownloadToFile".
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <memory>
#include <string>

#include "download/Downloader.h"
#include "utils/Thread.h"

// The URL handed to the service: "file:///" URLs as given, any other URL through Utils::UrlEncode.
std::wstring WinRequestUrl(const std::wstring& url);

class CWinDownloader : public CDownloader {
public:
    // Lives exactly as long as its downloader: the service's AddRef/Release do not govern it.
    class CBindCallback : public IBindStatusCallbackEx {
    public:
        CBindCallback() = default;
        virtual ~CBindCallback();
        CBindCallback(const CBindCallback&) = delete;
        CBindCallback& operator=(const CBindCallback&) = delete;

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* bindingIn) override;
        HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
        HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
        HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                             LPCWSTR statusText) override;
        HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
        HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindf, BINDINFO* bindInfo) override;
        HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD bscf, DWORD size, FORMATETC* format,
                                                  STGMEDIUM* medium) override;
        HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;
        HRESULT STDMETHODCALLTYPE GetBindInfoEx(DWORD* bindf, BINDINFO* bindInfo, DWORD* bindf2,
                                                DWORD* reserved) override;

        DownloadCallback callback_;
        // Set when the downloader goes away: the next notification aborts the transfer.
        std::atomic<bool> aborted_{false};
        IBinding* binding_ = nullptr; // kept as given, not referenced
        double shown_ = 0.0;          // the highest share reported in this sequence
    };

    CWinDownloader(const DownloadCallback& callback, const wchar_t* url, const wchar_t* path);
    // Aborts the transfer at its next notification, stops further attempts and waits for the worker.
    ~CWinDownloader() override;
    CWinDownloader(const CWinDownloader&) = delete;
    CWinDownloader& operator=(const CWinDownloader&) = delete;

    // Waits for the previous sequence's worker and runs a new sequence on a new one. Ignored while a sequence is
    // under way (until its terminal report).
    void Start() override;

    static unsigned long __stdcall dlThreadFun(void* self);

    CBindCallback bindCallback_;
    DownloadCallback callback_;
    std::wstring path_;
    std::wstring url_;
    std::unique_ptr<Utils::Thread> thread_;
    // Set by Start, cleared before the terminal report: a sequence under way is never started again.
    std::atomic<bool> running_{false};
};
