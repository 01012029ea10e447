#include "download/CurlClient.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "utils/DebugLog.h"
#include "utils/TextConv.h"

int RetryCost(int code) {
    return code == CURLE_PARTIAL_FILE ? 1 : 2;
}

std::wstring PartPath(const std::wstring& path) {
    return path + L".part";
}

std::string NarrowUrl(const std::wstring& url) {
    if (url.rfind(L"file:///", 0) == 0) {
        return Utils::WideToMultiByte(url, Utils::kCodePageAnsi);
    }
    return Utils::WideToMultiByte(url, Utils::kCodePageUtf8);
}

std::optional<double> ProgressPercent(int64_t dlnow, int64_t dltotal, int64_t resumeOffset, double contentLength) {
    double percent = 0.0;
    if (contentLength > 0) {
        percent = (static_cast<double>(dlnow) + static_cast<double>(resumeOffset)) / contentLength * 100.0;
    } else if (dltotal == 0) {
        return std::nullopt;
    } else {
        percent = static_cast<double>(dlnow) * 100.0 / static_cast<double>(dltotal);
    }
    // A server that sends more than it announced cannot make the bar run past its end.
    return percent < 0.0 ? 0.0 : (percent > 100.0 ? 100.0 : percent);
}

bool IsSuccessfulHead(const char* scheme, long responseCode) {
    // Only HTTP and HTTPS answer with a status; a FILE URL that could be read is an answer in itself.
    std::string s = scheme != nullptr ? scheme : "";
    for (char& c : s) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (s != "http" && s != "https") {
        return true;
    }
    return responseCode >= 200 && responseCode <= 299;
}

namespace {

std::wstring CurlErrorText(int code) {
    if (code == ERR_SERVER_CERTIFICATE) {
        return L"server certificate refused";
    }
    return Utils::MultiByteToWide(::curl_easy_strerror(static_cast<CURLcode>(code)), Utils::kCodePageAnsi);
}

} // namespace

CurlClient::CurlClient(const std::wstring& url_, const std::wstring& path_, void* owner_, ClientProgressFn fn,
                       long lowSpeedTime_)
    : url(url_), path(path_), owner(owner_), progressFn(fn), lowSpeedTime(lowSpeedTime_) {}

CurlClient::~CurlClient() {
    cancelled = true;
    ::_wremove(PartPath(path).c_str());
}

int CurlClient::Start() {
    DEBUG_LOG(L"start download");
    proxyProblem.clear();
    const std::wstring partPath = PartPath(path);
    const std::string narrowUrl = NarrowUrl(url);

    if (effectiveUrl.empty()) {
        Utils::UniqueCurl h = Head(narrowUrl);
        char* effective = nullptr;
        std::string named;
        if (h && ::curl_easy_getinfo(h.get(), CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
            named = effective;
        }
        contentLength = GetDownloadFileLength(h.get());
        long status = 0;
        char* scheme = nullptr;
        if (h) {
            ::curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status);
            ::curl_easy_getinfo(h.get(), CURLINFO_SCHEME, &scheme);
        }
        // The length of an error page is not the package's: only a successful HEAD settles the length and the
        // URL; after any other the next attempt asks again.
        if (!h || !IsSuccessfulHead(scheme, status)) {
            DEBUG_LOG(L"HEAD answered %ld: no length", status);
            contentLength = -1.0;
        }
        if (contentLength >= 0) {
            effectiveUrl = named;
        }
    }

    int result = 0;
    Utils::UniqueFile part;
    Utils::UniqueCurlSlist headers;
    if (!serverCheck.problem.empty()) {
        result = ERR_SERVER_CERTIFICATE; // the HEAD request met a server that is not who it claims to be
    } else if (contentLength < 0) {
        result = ERR_NO_CONTENT_LENGTH;
    } else {
        handle.reset(::curl_easy_init());
        if (!handle) {
            result = ERR_EASY_INIT;
        } else {
            part.reset(::_wfopen(partPath.c_str(), L"ab+"));
            if (!part) {
                result = ERR_OPEN_PART_FILE;
            }
        }
    }
    if (result == 0) {
        CURL* h = handle.get();
        headers.reset(::curl_slist_append(headers.release(), "Connection: keep-alive"));
        // The package is saved as sent, and a range is a range of the file itself: no content coding.
        headers.reset(::curl_slist_append(headers.release(), "Accept-Encoding: identity"));
        ::curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        ::curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
        ::curl_easy_setopt(h, CURLOPT_TCP_KEEPIDLE, 10L);
        ::curl_easy_setopt(h, CURLOPT_TCP_KEEPINTVL, 10L);
        ::curl_easy_setopt(h, CURLOPT_TIMEOUT, 0L);
        int options = 0;
        options |= ::curl_easy_setopt(h, CURLOPT_URL, effectiveUrl.c_str());
        options |= ::curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        options |= ::curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlClient::WriteData);
        options |= ::curl_easy_setopt(h, CURLOPT_WRITEDATA, part.get());
        options |= ::curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        options |= ::curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlClient::ProgressCallback);
        options |= ::curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
        options |= ::curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
        options |= ::curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
        options |= ::curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
        options |= ::curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, lowSpeedTime);
        options |= ::curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        options |= EnableServerCheck(h, serverCheck);
        options |= ApplyProxy(h);

        struct _stat64 status;
        resumeOffset = ::_wstat64(partPath.c_str(), &status) == 0 ? status.st_size : -1;
        if (resumeOffset > 0) {
            options |= ::curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resumeOffset));
        }
        if (options != 0) {
            result = options;
        } else if (contentLength > 0 && static_cast<double>(resumeOffset) == contentLength) {
            // An earlier attempt fetched everything and only its rename failed: nothing is left to fetch.
            DEBUG_LOG(L"partial file complete");
        } else {
            result = ::curl_easy_perform(h);
            if (result == CURLE_ABORTED_BY_CALLBACK && !serverCheck.problem.empty()) {
                result = ERR_SERVER_CERTIFICATE;
            }
            NoteProxyFailure(h, result);
        }
    }

    DEBUG_LOG(L"error:%d:%s", result, CurlErrorText(result).c_str());
    handle.reset();
    part.reset();
    headers.reset();

    if (result == 0) {
        // The package must be the file just fetched: a target that cannot be replaced (held open by a scanner,
        // say) fails the attempt, and the part file stays for the next one.
        if (!::MoveFileExW(partPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DWORD error = ::GetLastError();
            DEBUG_LOG(L"MoveFileExW(%s) failed: %lu", path.c_str(), error);
            result = ERR_RENAME_PART_FILE;
        }
    }
    DEBUG_LOG(L"end download");
    return result;
}

Utils::UniqueCurl CurlClient::Head(std::string narrowUrl) {
    Utils::UniqueCurl h(::curl_easy_init());
    int result = 0;
    if (h) {
        int options = 0;
        options |= ::curl_easy_setopt(h.get(), CURLOPT_URL, narrowUrl.c_str());
        options |= ::curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_NOBODY, 1L);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, &CurlClient::DiscardBody);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT, 60L);
        // Not a transfer the owner follows: these only let a stalled server or the owner's destruction end it.
        options |= ::curl_easy_setopt(h.get(), CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_LOW_SPEED_TIME, lowSpeedTime);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, &CurlClient::HeadProgressCallback);
        options |= ::curl_easy_setopt(h.get(), CURLOPT_XFERINFODATA, this);
        options |= EnableServerCheck(h.get(), serverCheck);
        options |= ApplyProxy(h.get());
        if (options != 0) {
            result = options;
        } else {
            result = ::curl_easy_perform(h.get());
            NoteProxyFailure(h.get(), result);
            if (result != 0) {
                DEBUG_LOG_RAW(L"error:%d:%s", result, CurlErrorText(result).c_str());
            }
        }
    }
    DEBUG_LOG(L"error:%d:%s", result, CurlErrorText(result).c_str());
    return h;
}

int CurlClient::ApplyProxy(CURL* h) const {
    // An empty proxy is a direct connection, whatever the environment's *_proxy variables say.
    int options =
        ::curl_easy_setopt(h, CURLOPT_PROXY, Utils::WideToMultiByte(proxy.proxy, Utils::kCodePageUtf8).c_str());
    if (!proxy.noProxy.empty()) {
        options |=
            ::curl_easy_setopt(h, CURLOPT_NOPROXY, Utils::WideToMultiByte(proxy.noProxy, Utils::kCodePageUtf8).c_str());
    }
    return options;
}

void CurlClient::NoteProxyFailure(CURL* h, int result) {
    if (proxy.proxy.empty() || result == CURLE_OK) {
        return;
    }
    long response = 0;
    long connect = 0;
    ::curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
    ::curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connect);
    if (IsProxyFailure(result, response, connect)) {
        proxyProblem = L"proxy " + ProxyForLog(proxy.proxy) + L": " + CurlErrorText(result);
        if (connect != 0 || response == 407) {
            proxyProblem += L" (" + std::to_wstring(connect != 0 ? connect : response) + L")";
        }
        DEBUG_LOG(L"%s", proxyProblem.c_str());
        if (!proxy.others.empty()) {
            proxy.proxy = proxy.others.front();
            proxy.others.erase(proxy.others.begin());
            DEBUG_LOG(L"next proxy: %s", ProxyForLog(proxy.proxy).c_str());
        }
    }
}

double CurlClient::GetDownloadFileLength(CURL* h) {
    // The library reports -1 when the server gave no length; a null handle fails the query and keeps -1.
    curl_off_t length = -1;
    int result = ::curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    DEBUG_LOG(L"error:%d:%s", result, CurlErrorText(result).c_str());
    return result == CURLE_OK ? static_cast<double>(length) : -1.0;
}

int CurlClient::ProgressCallback(void* client, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* self = static_cast<CurlClient*>(client);
    if (self->cancelled) {
        return 1;
    }
    // One report per wall-clock second; everything in between costs only this clock read.
    int64_t now = static_cast<int64_t>(::time(nullptr));
    if (now <= self->lastReportTime) {
        return 0;
    }
    self->lastReportTime = now;
    // Average bytes per second of this transfer so far.
    curl_off_t averageSpeed = 0;
    ::curl_easy_getinfo(self->handle.get(), CURLINFO_SPEED_DOWNLOAD_T, &averageSpeed);
    double speed = static_cast<double>(averageSpeed);
    std::optional<double> percent = ProgressPercent(dlnow, dltotal, self->resumeOffset, self->contentLength);
    if (!percent) {
        return 0;
    }
    if (self->progressFn != nullptr) {
        self->progressFn(self->owner, speed, 0.0, *percent);
    }
    if (dltotal != 0) {
        DEBUG_LOG_RAW(L" %dM %dM   progress:%f%%  speed:%f \n", static_cast<int>(dlnow / 1048576),
                      static_cast<int>(dltotal / 1048576), static_cast<double>(static_cast<float>(*percent)),
                      static_cast<double>(static_cast<float>(speed / 1024)));
    }
    return 0;
}

int CurlClient::HeadProgressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CurlClient*>(client)->cancelled ? 1 : 0;
}

size_t CurlClient::WriteData(void* data, size_t size, size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file));
}

size_t CurlClient::DiscardBody(void*, size_t size, size_t count, void*) {
    return size * count;
}
