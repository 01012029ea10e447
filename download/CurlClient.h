// One download attempt with libcurl: a HEAD request for the length (once it has succeeded), then a GET that
// appends to "<path>.part" from its current size, and the rename of the partial file to the target on success.
// All of it runs on the owning downloader's worker thread; only `cancelled` is written from another thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include <curl/curl.h>

#include "download/ProxyRules.h"
#include "download/ServerCertificate.h"
#include "utils/ScopedWin.h"

// Result codes of an attempt besides libcurl's own CURLcode values.
constexpr int ERR_NO_CONTENT_LENGTH = -998; // the HEAD request gave no length (or failed)
constexpr int ERR_EASY_INIT = -997;         // curl_easy_init returned no handle
constexpr int ERR_OPEN_PART_FILE = -996;    // the partial file could not be opened for appending
constexpr int ERR_SERVER_CERTIFICATE = -995; // the HTTPS server's certificate was refused (serverCheck.problem)
constexpr int ERR_RENAME_PART_FILE = -994;  // the finished partial file could not replace the target

// A connected server that sends less than kLowSpeedLimitBytes per second for this long ends the attempt with
// CURLE_OPERATION_TIMEDOUT, so a stalled server cannot hold the installer for ever.
constexpr long kLowSpeedTimeSeconds = 60;
constexpr long kLowSpeedLimitBytes = 1;

// libcurl's receive buffer. Its 16 KiB default costs one socket call per 16 KiB, and socket calls are dear under
// Wine: 100 KiB, the size the curl tool itself asks for, is what lets the download keep pace with it.
constexpr long kReceiveBufferBytes = 100 * 1024;

// Retry budget of one start: a broken-off body (CURLE_PARTIAL_FILE) costs 1, any other failure 2.
constexpr int kRetryBudget = 6;
int RetryCost(int code);

// "<path>.part": the literal suffix goes after the whole path, extension included.
std::wstring PartPath(const std::wstring& path);

// The 8-bit URL handed to libcurl: UTF-8, except that a "file:///" URL names a local path and libcurl opens it
// with the C runtime's ANSI calls, so it takes the ANSI code page.
std::string NarrowUrl(const std::wstring& url);

// Percent done of the whole file: with a known length, the bytes of this transfer plus the resumed part against
// it; otherwise this transfer's own count against its total; never beyond 0..100. Nothing when neither total is
// known (both 0).
std::optional<double> ProgressPercent(int64_t dlnow, int64_t dltotal, int64_t resumeOffset, double contentLength);

// Whether a finished HEAD request may settle the length: a 2xx status (after redirections) for HTTP(S); any
// answer of another scheme (a FILE URL has no status).
bool IsSuccessfulHead(const char* scheme, long responseCode);

using ClientProgressFn = void (*)(void* owner, double speed, double reserved, double percent);

class CurlClient {
public:
    CurlClient(const std::wstring& url, const std::wstring& path, void* owner, ClientProgressFn progressFn,
               long lowSpeedTime = kLowSpeedTimeSeconds);
    // Sets `cancelled` and deletes the partial file.
    ~CurlClient();
    CurlClient(const CurlClient&) = delete;
    CurlClient& operator=(const CurlClient&) = delete;

    // One complete attempt; returns 0, a CURLcode (or an OR of option-setting results) or an ERR_* code.
    int Start();
    // The HEAD request; the handle comes back whether or not the request succeeded (it may be empty).
    Utils::UniqueCurl Head(std::string narrowUrl);
    // Content length of a finished HEAD request; -1.0 when unknown.
    double GetDownloadFileLength(CURL* h);

    static int ProgressCallback(void* client, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                                curl_off_t ulnow);
    // Points a request at `proxy`; returns the OR of the option results.
    int ApplyProxy(CURL* h) const;
    // Notes a failed request's cause in `proxyProblem` when it lies with the proxy, and moves the next attempt on
    // to the next proxy of the list, if any.
    void NoteProxyFailure(CURL* h, int result);

    static size_t WriteData(void* data, size_t size, size_t count, void* file);
    static size_t DiscardBody(void* data, size_t size, size_t count, void* userdata);
    // Transfer-information callback of the HEAD request: only lets a destruction end it.
    static int HeadProgressCallback(void* client, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                                    curl_off_t ulnow);

    std::wstring url;
    std::wstring path;
    void* owner = nullptr;
    Utils::UniqueCurl handle; // the GET of the attempt under way; read by ProgressCallback
    ClientProgressFn progressFn = nullptr;
    double contentLength = -1.0;
    int64_t resumeOffset = -1;
    int64_t lastReportTime = 0;
    // Written by the owner's destructor on another thread, read by the transfer callbacks and the retry loop.
    std::atomic<bool> cancelled{false};
    // URL after redirections, kept only from a HEAD request that produced a length; empty means "ask again".
    std::string effectiveUrl;
    long lowSpeedTime = kLowSpeedTimeSeconds;
    // The proxy of every request of this sequence (set by the owner before the first attempt), and why the last
    // attempt failed at that proxy (empty when it did not).
    ProxyDecision proxy;
    std::wstring proxyProblem;
    // The certificate check of the request under way (HEAD or GET); `problem` says why the last one was refused.
    ServerCheck serverCheck;
};
