#include "download/CurlDownloader.h"

#include <windows.h>

#include "download/SystemProxy.h"
#include "utils/DebugLog.h"
#include "utils/LogFile.h"
#include "utils/TextConv.h"

static_assert(DL_ERR_THREAD_CREATE != ERR_SERVER_CERTIFICATE, "a failure value names one cause");

CCurlDownloader::CCurlDownloader(const DownloadCallback& callback, const wchar_t* url, const wchar_t* path,
                                 long lowSpeedTime, const std::wstring& proxyOption, int connections)
    : callback_(callback), path_(path != nullptr ? path : L""), url_(url != nullptr ? url : L""),
      proxyOption_(proxyOption),
      client_(url_, path_, this, &CCurlDownloader::OnClientProgress, lowSpeedTime, connections) {}

CCurlDownloader::~CCurlDownloader() {
    client_.Cancel();
    thread_.reset();
}

void CCurlDownloader::Start() {
    // Two threads may ask (the removal job and the window): a sequence under way is never started again.
    if (running_.exchange(true)) {
        DEBUG_LOG(L"already running: start ignored");
        return;
    }
    thread_.reset();
    thread_ = StartWorker(this, &CCurlDownloader::dlThreadFun, running_, callback_, L"LibCurl");
}

unsigned long CCurlDownloader::dlThreadFun(void* param) {
    auto* self = static_cast<CCurlDownloader*>(param);
    self->callback_(DL_CODE_START, 1.0, L"");
    if (self->path_.empty()) {
        self->running_ = false;
        self->callback_(DL_CODE_FAIL, 1.0, L"");
        return 0;
    }
    // Once per sequence, before its first request: the settings may have changed since the last one.
    self->client_.UseProxy(FindProxy(self->url_, self->proxyOption_).decision);
    Utils::Status attempt = self->client_.Start();
    int budget = kRetryBudget;
    while (!attempt) {
        const int code = attempt.Code();
        if (code == ERR_SERVER_CERTIFICATE) {
            break; // another attempt would meet the same certificate
        }
        budget -= RetryCost(code);
        if (budget <= 0 || self->client_.Cancelled()) {
            break;
        }
        DEBUG_LOG(L"CurlDownLoader Code=%d", code);
        ::Sleep(500);
        if (self->client_.Cancelled()) {
            break;
        }
        attempt = self->client_.Start();
    }
    // Cleared before the terminal report: the owner may start the next sequence as soon as it hears it.
    self->running_ = false;
    if (attempt) {
        self->callback_(DL_CODE_SUCCESS, 0.0, L"LibCurl");
    } else {
        const std::wstring message = attempt.What().empty() ? L"LibCurl" : L"LibCurl: " + attempt.What();
        self->callback_(DL_CODE_FAIL, static_cast<double>(attempt.Code()), message.c_str());
    }
    return 0;
}

void CCurlDownloader::OnClientProgress(void* owner, double speed, double, double percent) {
    // Until the first body bytes arrive (speed 0) nothing is reported.
    if (speed > 0.0) {
        static_cast<CCurlDownloader*>(owner)->callback_(DL_CODE_PROGRESS, percent / 100.0, L"");
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
