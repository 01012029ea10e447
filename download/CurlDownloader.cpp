#include "download/CurlDownloader.h"

#include <windows.h>

#include "download/SystemProxy.h"
#include "utils/DebugLog.h"
#include "utils/LogFile.h"
#include "utils/TextConv.h"

static_assert(DL_ERR_THREAD_CREATE != ERR_SERVER_CERTIFICATE, "a failure value names one cause");

CCurlDownloader::CCurlDownloader(const DownloadCallback& callback_, const wchar_t* url_, const wchar_t* path_,
                                 long lowSpeedTime, const std::wstring& proxyOption_, int connections)
    : callback(callback_), path(path_ != nullptr ? path_ : L""), url(url_ != nullptr ? url_ : L""),
      proxyOption(proxyOption_),
      client(url, path, this, &CCurlDownloader::OnClientProgress, lowSpeedTime, connections) {}

CCurlDownloader::~CCurlDownloader() {
    client.Cancel();
    thread.reset();
}

void CCurlDownloader::Start() {
    // Two threads may ask (the removal job and the window): a sequence under way is never started again.
    if (running.exchange(true)) {
        DEBUG_LOG(L"already running: start ignored");
        return;
    }
    thread.reset();
    Utils::Result<std::unique_ptr<Utils::Thread>> worker =
        Utils::StartThread(this, L"ABDEF", &CCurlDownloader::dlThreadFun);
    if (worker) {
        thread = std::move(*worker);
    } else {
        // No worker will ever report: the owner still gets its start and its one terminal report.
        DEBUG_LOG(L"no worker thread: %s", worker.Failure().What().c_str());
        running = false;
        callback(DL_CODE_START, 1.0, L"");
        callback(DL_CODE_FAIL, DL_ERR_THREAD_CREATE, L"LibCurl");
    }
}

unsigned long CCurlDownloader::dlThreadFun(void* param) {
    auto* self = static_cast<CCurlDownloader*>(param);
    self->callback(DL_CODE_START, 1.0, L"");
    if (self->path.empty()) {
        self->running = false;
        self->callback(DL_CODE_FAIL, 1.0, L"");
        return 0;
    }
    // Once per sequence, before its first request: the settings may have changed since the last one.
    self->client.UseProxy(FindProxy(self->url, self->proxyOption).decision);
    Utils::Status attempt = self->client.Start();
    int budget = kRetryBudget;
    while (!attempt) {
        const int code = attempt.Code();
        if (code == ERR_SERVER_CERTIFICATE) {
            break; // another attempt would meet the same certificate
        }
        budget -= RetryCost(code);
        if (budget <= 0 || self->client.Cancelled()) {
            break;
        }
        DEBUG_LOG(L"CurlDownLoader Code=%d", code);
        ::Sleep(500);
        if (self->client.Cancelled()) {
            break;
        }
        attempt = self->client.Start();
    }
    // Cleared before the terminal report: the owner may start the next sequence as soon as it hears it.
    self->running = false;
    if (attempt) {
        self->callback(DL_CODE_SUCCESS, 0.0, L"LibCurl");
    } else {
        const std::wstring message = attempt.What().empty() ? L"LibCurl" : L"LibCurl: " + attempt.What();
        self->callback(DL_CODE_FAIL, static_cast<double>(attempt.Code()), message.c_str());
    }
    return 0;
}

void CCurlDownloader::OnClientProgress(void* owner, double speed, double, double percent) {
    // Until the first body bytes arrive (speed 0) nothing is reported.
    if (speed > 0.0) {
        static_cast<CCurlDownloader*>(owner)->callback(DL_CODE_PROGRESS, percent / 100.0, L"");
    }
}

Utils::Status ServerHasFile(const std::wstring& url, const std::wstring& proxyOption, long seconds) {
    CurlClient client(url, L"", nullptr, nullptr, seconds, 1);
    client.LimitHead(seconds);
    client.UseProxy(FindProxy(url, proxyOption).decision);
    Utils::UniqueCurl h = client.Head(NarrowUrl(url));
    if (!client.Failure().empty()) {
        return Utils::Status::Failed(client.Failure());
    }
    long status = 0;
    const char* scheme = nullptr;
    if (!h || ::curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        ::curl_easy_getinfo(h.get(), CURLINFO_SCHEME, &scheme) != CURLE_OK) {
        return Utils::Status::Failed(L"HEAD " + Utils::UrlForLog(url) + L": no answer");
    }
    if (!IsSuccessfulHead(scheme, status)) {
        return Utils::Status::Failed(L"HEAD " + Utils::UrlForLog(url) + L" answered HTTP " + Utils::Decimal(status),
                                     status);
    }
    return {};
}
