#include "download/CurlDownloader.h"

#include <windows.h>

#include <algorithm>

#include "download/MirrorRules.h"
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
    const std::vector<std::wstring> urls = self->SequenceUrls(self->url_);
    self->shownPercent_ = 0.0;
    Utils::Status attempt = Utils::Status::Failed(L"no URL");
    for (size_t index = 0; index < urls.size() && !self->client_.Cancelled(); ++index) {
        if (index > 0 || urls[0] != self->client_.Url()) {
            self->client_.SwitchUrl(urls[index]);
        }
        DEBUG_LOG(L"download from %s", Utils::UrlForLog(urls[index]).c_str());
        // Once per URL, before its first request: the settings may have changed since the last one.
        self->client_.UseProxy(FindProxy(urls[index], self->proxyOption_).decision);
        attempt = self->client_.Start();
        AttemptFailure failure;
        failure.budgetLeft = kRetryBudget;
        while (!attempt && !self->client_.Cancelled()) {
            failure.code = attempt.Code();
            failure.httpStatus = self->client_.HttpStatus();
            failure.budgetLeft -= RetryCost(failure.code);
            failure.forbiddenInARow = failure.httpStatus == 403 ? failure.forbiddenInARow + 1 : 0;
            if (const std::optional<std::wstring> reason = ReasonToLeave(failure)) {
                DEBUG_LOG(L"left %s: %s", Utils::UrlForLog(urls[index]).c_str(), reason->c_str());
                break;
            }
            DEBUG_LOG(L"CurlDownLoader Code=%d", failure.code);
            ::Sleep(500);
            if (self->client_.Cancelled()) {
                break;
            }
            attempt = self->client_.Start();
        }
        if (attempt) {
            self->NoteServed(index, urls[index]);
            break;
        }
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
    // Until the first body bytes arrive (speed 0) nothing is reported. After a switch to another URL the bar
    // holds where it was until the new download passes it.
    auto* self = static_cast<CCurlDownloader*>(owner);
    if (speed > 0.0) {
        self->shownPercent_ = std::max(self->shownPercent_, percent);
        self->callback_(DL_CODE_PROGRESS, self->shownPercent_ / 100.0, L"");
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
