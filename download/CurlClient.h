// One download attempt with libcurl: a HEAD request for the length (once it has succeeded), then the GETs that
// write what is missing of "<path>.part", and the rename of the partial file to the target once every byte is
// there. A file of at least kParallelThresholdBytes from a server that offers byte ranges is fetched as up to
// `connections` ranges at once (one curl multi handle, on this same thread), each written at its own offset;
// anything irregular in a range answer turns that off for the rest of this object's life. Beside the part file a
// state file ("<path>.part.state") records what is there, so that a later run can resume it once the server
// confirms, through If-Range, that the file is still the same.
// All of it runs on the owning downloader's worker thread; only Cancel may be called from another thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "download/DownloadRanges.h"
#include "download/ProxyRules.h"
#include "download/ServerCertificate.h"
#include "utils/ScopedWin.h"
#include "utils/Status.h"
#include "utils/Thread.h"

// Result codes of an attempt besides libcurl's own CURLcode values.
constexpr int ERR_NO_CONTENT_LENGTH = -998;  // the HEAD request gave no length (or failed)
constexpr int ERR_EASY_INIT = -997;          // curl_easy_init returned no handle
constexpr int ERR_OPEN_PART_FILE = -996;     // the partial file could not be opened for appending
constexpr int ERR_SERVER_CERTIFICATE = -995; // the HTTPS server's certificate was refused (serverCheck.problem)
constexpr int ERR_RENAME_PART_FILE = -994;   // the finished partial file could not replace the target
constexpr int ERR_ANSWER_TOO_LONG = -993;    // the one stream brought more bytes than the file holds
constexpr int ERR_FILE_CHANGED = -992;       // a resumed range was of another file: the next attempt starts over

// Redirections: at most this many per request, and from an https URL only to https.
constexpr long kMaxRedirects = 10;

// During a transfer the state file is brought up to date when this long has passed since it last was, or when
// this many written bytes are not in it, whichever comes first: a kill loses at most about a quarter of a second
// of transfer (or 8 MiB on a fast line). The file is written on a thread of its own: the writer never waits.
constexpr int64_t kStateSaveIntervalMs = 250;
constexpr int64_t kStateSaveBytes = 8 * 1024 * 1024;
class StateSaveRule {
public:
    // Whether a save is due at `nowMs` with `writtenBytes` written in all (a count that only grows).
    [[nodiscard]] bool Due(int64_t nowMs, int64_t writtenBytes) const {
        return nowMs - savedAtMs_ >= kStateSaveIntervalMs || writtenBytes - savedBytes_ >= kStateSaveBytes;
    }
    void Saved(int64_t nowMs, int64_t writtenBytes) {
        savedAtMs_ = nowMs;
        savedBytes_ = writtenBytes;
    }

private:
    int64_t savedAtMs_ = 0;
    int64_t savedBytes_ = 0;
};

// Writes `text` as the state file `statePath` through a temporary file that replaces it only once it was
// written and closed in full; otherwise the temporary file is deleted and the old state stays. False then.
bool WriteStateFile(const std::wstring& statePath, const std::string& text);

// The state file's writer thread: Post hands over the newest text and returns at once (an older text not yet
// written is dropped); Flush waits until the last text posted is written.
class StateSaver {
public:
    explicit StateSaver(std::wstring statePath);
    ~StateSaver(); // writes what is pending, then joins
    StateSaver(const StateSaver&) = delete;
    StateSaver& operator=(const StateSaver&) = delete;
    void Post(std::string text);
    void Flush();

private:
    unsigned long Run();
    std::wstring path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> pending_;
    bool writing_ = false;
    bool stopping_ = false;
    std::unique_ptr<Utils::Thread> thread_;
};

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
// "<path>.part.state": what a later run needs to resume the part file.
std::wstring PartStatePath(const std::wstring& path);
// Deletes the part file of `path` and its state file (a finished, refused or removed package leaves neither).
void DeletePartFiles(const std::wstring& path);

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
               long lowSpeedTime = kLowSpeedTimeSeconds, int connections = kDefaultConnections);
    // Cancels. The part file stays, with its state file, when a later run can resume it (the server gave a length
    // and a validator); otherwise both are deleted.
    ~CurlClient();
    CurlClient(const CurlClient&) = delete;
    CurlClient& operator=(const CurlClient&) = delete;

    // One complete attempt. A failure's code is a CURLcode or an ERR_* code; its words say why with the URL as a
    // log may show it: the refused certificate's problem, else the proxy's, else what the request met.
    Utils::Status Start();
    // The HEAD request; the handle comes back whether or not the request succeeded (it may be empty). Failure()
    // says why it failed.
    Utils::UniqueCurl Head(std::string narrowUrl);
    // Why the last HEAD request or attempt failed, in words (empty after a success).
    [[nodiscard]] const std::wstring& Failure() const { return failure_; }
    // The HTTP status of the answer that failed the last attempt (0: none failed it, or no HTTP answer).
    [[nodiscard]] long HttpStatus() const { return httpStatus_; }
    [[nodiscard]] const std::wstring& Url() const { return url_; }
    // Makes `url` the one the next attempts fetch: nothing learnt of the last one is kept, and the part file and
    // its state file are deleted, so that bytes of two servers never end up in one file.
    void SwitchUrl(const std::wstring& url);

    // Ends a transfer under way at its next callback and keeps the owner from beginning another attempt; may be
    // called from any thread.
    void Cancel() { cancelled_ = true; }
    [[nodiscard]] bool Cancelled() const { return cancelled_; }
    // The proxy of every request of this sequence (set by the owner before the first attempt).
    void UseProxy(ProxyDecision proxy) { proxy_ = std::move(proxy); }
    // A limit in seconds on the whole HEAD request, its connection included (0: only the stall limit).
    void LimitHead(long seconds) { headSeconds_ = seconds; }

    struct Request;

private:
    // Content length of a finished HEAD request; -1.0 when unknown.
    double GetDownloadFileLength(CURL* h);
    // Once per wall-clock second of a transfer: the percent of the whole file to the owner, the state file
    // brought up to date.
    void ProgressCallback(const std::vector<std::unique_ptr<Request>>& requests, int64_t startTick);
    // Transfer-information callback of every GET: lets a destruction, or an irregular answer of another range,
    // end it.
    static int TransferCallback(void* request, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                                curl_off_t ulnow);
    // Points a request at the proxy; returns the first option libcurl refused (0: none).
    int ApplyProxy(CURL* h) const;
    // Notes a failed request's cause in `proxyProblem_` when it lies with the proxy, and moves the next attempt on
    // to the next proxy of the list, if any.
    void NoteProxyFailure(CURL* h, int result);

    static size_t WriteData(void* data, size_t size, size_t count, void* request);
    static size_t HeaderData(char* data, size_t size, size_t count, void* facts);
    static size_t DiscardBody(void* data, size_t size, size_t count, void* userdata);
    // Transfer-information callback of the HEAD request: only lets a destruction end it.
    static int HeadProgressCallback(void* client, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                                    curl_off_t ulnow);

    // The steps of Start: the HEAD request (its length, URL, ranges and validator count only when it succeeded),
    // the requests for what is missing, a part file cut to the file's length, and its rename to the target.
    void AskLength(const std::string& narrowUrl);
    int FetchMissing(const std::string& narrowUrl);
    int FitPartFile(const std::wstring& partPath);
    int RenamePartFile(const std::wstring& partPath);
    Utils::Status Outcome(int code) const;
    void DecideResume(const std::string& narrowUrl);
    int Transfer();
    // One round of requests, one per span of `plan`: set up, run together, closed, and judged (the result of the
    // round, the bytes they brought added to `done_`).
    int RunRequests(const SpanList& plan, bool parallel);
    int PrepareRequests(const SpanList& plan, bool parallel, std::vector<std::unique_ptr<Request>>& requests);
    int PrepareRequest(Request& r, const std::wstring& partPath);
    int RequestHeaders(Request& r);
    int RequestOptions(Request& r);
    int PerformRequests(CURLM* multi, const std::vector<std::unique_ptr<Request>>& requests);
    void CloseRequests(CURLM* multi, const std::vector<std::unique_ptr<Request>>& requests);
    int JudgeRequests(const std::vector<std::unique_ptr<Request>>& requests, int result);
    int RequestCode(const Request& r);
    // What the status and headers of an answer allow, looked at with its first body bytes: false ends the
    // request (its code, or the attempt's `irregular_`, says why).
    bool AcceptAnswer(Request& r);
    bool AcceptNewFile(Request& r, const std::string& now);
    // The answer is a whole file other than the HEAD's: its Content-Length is the download's length from now on.
    void TakeAnnouncedLength(Request& r);
    bool AcceptRestOfFile(Request& r, const std::string& now, int64_t length);
    void RefuseLongAnswer(Request& r);
    void SaveState(const SpanList& spans, bool wait);
    void SaveWhileWriting();
    void StartOver(HANDLE partFile);
    bool Resumable() const;

    std::wstring url_;
    std::wstring path_;
    void* owner_ = nullptr;
    ClientProgressFn progressFn_ = nullptr;
    double contentLength_ = -1.0;
    int64_t resumeOffset_ = -1; // bytes already there when the requests of the attempt under way began
    int64_t lastReportTime_ = 0;
    // Written by Cancel on another thread, read by the transfer callbacks and the owner's retry loop.
    std::atomic<bool> cancelled_{false};
    // URL after redirections, kept only from a HEAD request that produced a length; empty means "ask again".
    std::string effectiveUrl_;
    long lowSpeedTime_ = kLowSpeedTimeSeconds;
    long headSeconds_ = 0;
    // The proxy of every request, and why the last attempt failed at that proxy (empty when it did not).
    ProxyDecision proxy_;
    std::wstring proxyProblem_;
    std::wstring failure_;
    long httpStatus_ = 0;
    // The certificate check of the HEAD request; `problem` says why the last request (HEAD or GET) was refused.
    ServerCheck serverCheck_;

    // Parallel ranges: how many at most (1: never), whether they were turned off for this object's life, and what
    // the HEAD said about ranges and the file's identity (ETag, else Last-Modified; updated when a GET brings a
    // new whole file).
    int connections_ = kDefaultConnections;
    bool singleStream_ = false;
    bool acceptRanges_ = false;
    std::string validator_;
    ResponseFacts headFacts_; // of the last HEAD request
    // The bytes of the part file known to be the package's, for this object's attempts; taken from an earlier
    // run's state file at the first attempt that knows the length (resumeDecided_).
    SpanList done_;
    bool resumeDecided_ = false;
    // Set by a range answer that cannot be used (`irregular_` says why): the other ranges of the attempt stop.
    bool abortAttempt_ = false;
    std::string irregular_;
    // The requests under way (for the state saved while they write) and when the state was last saved.
    std::vector<Request*> live_;
    StateSaveRule saveRule_;
    std::unique_ptr<StateSaver> saver_;
};
