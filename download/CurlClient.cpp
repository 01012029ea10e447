#include "download/CurlClient.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "download/CurlOptions.h"
#include "utils/DebugLog.h"
#include "utils/LogFile.h"
#include "utils/TextConv.h"

int RetryCost(int code) {
    return code == CURLE_PARTIAL_FILE ? 1 : 2;
}

std::wstring PartPath(const std::wstring& path) {
    return path + L".part";
}

std::wstring PartStatePath(const std::wstring& path) {
    return path + L".part.state";
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

namespace {

bool IsHttpScheme(std::string scheme) {
    for (char& c : scheme) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return scheme == "http" || scheme == "https";
}

bool IsHttpUrl(const std::string& url) {
    return IsHttpScheme(url.substr(0, url.find(':')));
}

} // namespace

bool IsSuccessfulHead(const char* scheme, long responseCode) {
    // Only HTTP and HTTPS answer with a status; a FILE URL that could be read is an answer in itself.
    if (!IsHttpScheme(scheme != nullptr ? scheme : "")) {
        return true;
    }
    return responseCode >= 200 && responseCode <= 299;
}

namespace {

std::wstring CurlErrorText(int code) {
    // Our own codes in words; libcurl's own text for its codes.
    switch (code) {
    case ERR_SERVER_CERTIFICATE:
        return L"server certificate refused";
    case ERR_ANSWER_TOO_LONG:
        return L"the server sent more than the file's length";
    case ERR_FILE_CHANGED:
        return L"the server's file changed under a resumed range";
    case ERR_NO_CONTENT_LENGTH:
        return L"no length from the server";
    case ERR_OPEN_PART_FILE:
        return L"the part file could not be opened";
    case ERR_RENAME_PART_FILE:
        return L"the finished part file could not replace the package";
    default:
        return Utils::MultiByteToWide(::curl_easy_strerror(static_cast<CURLcode>(code)), Utils::kCodePageAnsi);
    }
}

} // namespace

CurlClient::CurlClient(const std::wstring& url, const std::wstring& path, void* owner, ClientProgressFn progressFn,
                       long lowSpeedTime, int connections)
    : url_(url), path_(path), owner_(owner), progressFn_(progressFn), lowSpeedTime_(lowSpeedTime),
      connections_(connections < 1 ? 1 : connections) {}

CurlClient::~CurlClient() {
    cancelled_ = true;
    saver_.reset(); // what it still had to write is written before the files are judged
    // Only a part file this object has taken on is its to delete: one it never started on may be another run's.
    if (resumeDecided_ && !Resumable()) {
        DeletePartFiles(path_);
    }
}

bool CurlClient::Resumable() const {
    // Without a length and a validator a later run could not tell that the bytes there are this file's.
    return contentLength_ > 0 && !validator_.empty() && !done_.empty();
}

// One GET of an attempt: the span it asks for, where its bytes go and what its answer said.
struct CurlClient::Request {
    CurlClient* client = nullptr;
    Span asked;            // end is kOpenEnd for the one stream of a download not in ranges
    bool parallel = false; // one of several ranges: the answer must be exactly the range asked for
    bool ifRange = false;  // the request carries If-Range: a 200 means the file is not the one in the part file
    bool checked = false;  // the answer's status and headers were looked at (first body bytes)
    int64_t written = 0;   // bytes of this answer written at asked.begin onwards
    int code = 0;          // the request's own verdict, over libcurl's result
    int result = -1;       // libcurl's result (-1: not finished)
    bool discard = false;  // the answer was irregular: none of its bytes count
    ResponseFacts facts;
    ServerCheck check;
    std::wstring usedProxy; // the proxy this request went through (empty: direct)
    Utils::UniqueCurl easy;
    // Written with WriteFile at explicit offsets: a byte counts once the system has taken it, never while it sits
    // in a buffer of this process.
    Utils::UniqueFileHandle file;
    Utils::UniqueCurlSlist headers;
};

namespace {

constexpr int64_t kOpenEnd = INT64_MAX;

// The configured URL as the state file names it: without any "user:password@".
std::string StateUrl(const std::wstring& url) {
    return NarrowUrl(WithoutUserInfo(url));
}

bool SetFileSize(HANDLE file, int64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = size;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

Utils::UniqueFileHandle OpenPartFile(const std::wstring& partPath) {
    // Several requests write their own ranges of the one file at once.
    return Utils::UniqueFileHandle(::CreateFileW(partPath.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Closes a file whose every byte matters: false when the system reports a failure.
bool CloseChecked(Utils::UniqueFileHandle& file) {
    return !file || Utils::CloseFileHandle(file);
}

int RedirectOptions(CURL* h, const std::string& narrowUrl) {
    CurlOptions options(h);
    options.Set(CURLOPT_MAXREDIRS, kMaxRedirects);
    std::string scheme = narrowUrl.substr(0, narrowUrl.find(':'));
    for (char& c : scheme) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    // A package asked for over https never comes over plain http, whatever a server redirects to.
    options.Set(CURLOPT_REDIR_PROTOCOLS_STR, scheme == "https" ? "https" : "http,https");
    return options.First();
}

int64_t PartFileSize(const std::wstring& partPath) {
    struct _stat64 status;
    return ::_wstat64(partPath.c_str(), &status) == 0 ? status.st_size : -1;
}

std::optional<PartState> ReadStateFile(const std::wstring& statePath) {
    Utils::UniqueFile file(::_wfopen(statePath.c_str(), L"rb"));
    if (!file) {
        return std::nullopt;
    }
    std::string text(kMaxStateFileBytes + 1, '\0');
    size_t got = std::fread(text.data(), 1, text.size(), file.get());
    text.resize(got);
    return ParsePartState(text); // a file beyond the bound is refused there
}

} // namespace

bool WriteStateFile(const std::wstring& statePath, const std::string& text) {
    const std::wstring temporary = statePath + L".tmp";
    Utils::UniqueFileHandle file(
        ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    bool written = file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                   put == text.size();
    // A state that was not written and closed in full never replaces the one there: that one still holds.
    written = CloseChecked(file) && written;
    if (!written || !::MoveFileExW(temporary.c_str(), statePath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"state not saved: %lu", error);
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

StateSaver::StateSaver(std::wstring statePath) : path_(std::move(statePath)) {
    Utils::Result<std::unique_ptr<Utils::Thread>> writer = Utils::StartThread(
        this, L"StateSaver", [](void* self) -> unsigned long { return static_cast<StateSaver*>(self)->Run(); });
    if (writer) {
        thread_ = std::move(*writer);
    } else {
        DEBUG_LOG(L"state written on the caller's thread: %s", writer.Failure().What().c_str());
    }
}

StateSaver::~StateSaver() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.reset();
}

void StateSaver::Post(std::string text) {
    if (!thread_) {
        (void)WriteStateFile(path_, text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::move(text);
    }
    changed_.notify_all();
}

void StateSaver::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !thread_ || (!pending_ && !writing_); });
}

unsigned long StateSaver::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ || stopping_; });
        if (!pending_) {
            return 0; // stopping, nothing left
        }
        std::string text = std::move(*pending_);
        pending_.reset();
        writing_ = true;
        lock.unlock();
        (void)WriteStateFile(path_, text);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

void DeletePartFiles(const std::wstring& path) {
    ::DeleteFileW(PartPath(path).c_str());
    ::DeleteFileW(PartStatePath(path).c_str());
    ::DeleteFileW((PartStatePath(path) + L".tmp").c_str()); // a state being rewritten when the run was killed
}

void CurlClient::SwitchUrl(const std::wstring& url) {
    url_ = url;
    effectiveUrl_.clear();
    contentLength_ = -1.0;
    resumeOffset_ = -1;
    validator_.clear();
    acceptRanges_ = false;
    singleStream_ = false;
    serverCheck_.problem.clear();
    done_.clear();
    resumeDecided_ = false;
    DeletePartFiles(path_);
}

Utils::Status CurlClient::Start() {
    DEBUG_LOG(L"start download");
    proxyProblem_.clear();
    failure_.clear();
    httpStatus_ = 0;
    const std::wstring partPath = PartPath(path_);
    const std::string narrowUrl = NarrowUrl(url_);
    if (effectiveUrl_.empty()) {
        AskLength(narrowUrl);
    }
    int result = FetchMissing(narrowUrl);
    if (result != 0) {
        DEBUG_LOG(L"error:%d:%s", result, CurlErrorText(result).c_str());
        if (failure_.empty()) {
            failure_ = L"GET " + Utils::UrlForLog(url_) + L": " + CurlErrorText(result);
        }
    }
    if (result == 0 && contentLength_ > 0) {
        result = FitPartFile(partPath);
    }
    if (result == 0) {
        result = RenamePartFile(partPath);
    }
    DEBUG_LOG(L"end download");
    return Outcome(result);
}

Utils::Status CurlClient::Outcome(int code) const {
    if (code == 0) {
        return {};
    }
    const std::wstring& why = code == ERR_SERVER_CERTIFICATE ? serverCheck_.problem
                              : !proxyProblem_.empty()       ? proxyProblem_
                                                             : failure_;
    return Utils::Status::Failed(why, code);
}

void CurlClient::AskLength(const std::string& narrowUrl) {
    const double knownLength = contentLength_;
    const std::string knownValidator = validator_;
    Utils::UniqueCurl h = Head(narrowUrl);
    char* effective = nullptr;
    std::string named;
    if (h && ::curl_easy_getinfo(h.get(), CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
        named = effective;
    }
    contentLength_ = GetDownloadFileLength(h.get());
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
        contentLength_ = -1.0;
        if (status != 0) {
            httpStatus_ = status;
            failure_ = L"HEAD " + Utils::UrlForLog(url_) + L" answered HTTP " + Utils::Decimal(status);
        }
    }
    if (contentLength_ >= 0) {
        effectiveUrl_ = named;
        acceptRanges_ = headFacts_.acceptRanges;
        validator_ = ValidatorOf(headFacts_);
        if (resumeDecided_ && !done_.empty() && (contentLength_ != knownLength || validator_ != knownValidator)) {
            // Asked again (after an HTTP error): the bytes there are of a file the server no longer has.
            DEBUG_LOG(L"the server's file changed since the last attempt: starting over");
            done_.clear();
            DeletePartFiles(path_);
        }
    }
}

int CurlClient::FetchMissing(const std::string& narrowUrl) {
    if (!serverCheck_.problem.empty()) {
        return ERR_SERVER_CERTIFICATE; // the HEAD request met a server that is not who it claims to be
    }
    if (contentLength_ < 0) {
        if (failure_.empty()) {
            failure_ = L"HEAD " + Utils::UrlForLog(url_) + L": " + CurlErrorText(ERR_NO_CONTENT_LENGTH);
        }
        return ERR_NO_CONTENT_LENGTH;
    }
    if (!resumeDecided_) {
        DecideResume(narrowUrl);
    }
    if (contentLength_ > 0 && static_cast<double>(CoveredBytes(done_)) >= contentLength_) {
        // An earlier attempt fetched everything and only its rename failed: nothing is left to fetch.
        DEBUG_LOG(L"partial file complete");
        return 0;
    }
    return Transfer();
}

int CurlClient::FitPartFile(const std::wstring& partPath) {
    // The package is exactly the file's length: a part file longer than that (an earlier run's, of a longer
    // answer) loses its tail first.
    int64_t size = PartFileSize(partPath);
    const int64_t length = static_cast<int64_t>(contentLength_);
    if (size > length) {
        Utils::UniqueFileHandle part = OpenPartFile(partPath);
        if (!part || !SetFileSize(part.get(), length) || !CloseChecked(part)) {
            return ERR_OPEN_PART_FILE;
        }
    } else if (size < length) {
        DEBUG_LOG(L"part file of %lld bytes for %lld: not complete", static_cast<long long>(size),
                  static_cast<long long>(length));
        done_.clear();
        return CURLE_PARTIAL_FILE;
    }
    return 0;
}

int CurlClient::RenamePartFile(const std::wstring& partPath) {
    // The package must be the file just fetched: a target that cannot be replaced (held open by a scanner, say)
    // fails the attempt, and the part file stays for the next one.
    if (!::MoveFileExW(partPath.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"MoveFileExW(%s) failed: %lu", path_.c_str(), error);
        return ERR_RENAME_PART_FILE;
    }
    done_.clear();
    resumeDecided_ = false;
    ::DeleteFileW(PartStatePath(path_).c_str());
    return 0;
}

void CurlClient::DecideResume(const std::string&) {
    resumeDecided_ = true;
    const std::wstring partPath = PartPath(path_);
    const std::wstring statePath = PartStatePath(path_);
    int64_t partSize = PartFileSize(partPath);
    std::optional<PartState> state = ReadStateFile(statePath);
    done_ = ResumeSpans(state, StateUrl(url_), static_cast<int64_t>(contentLength_), validator_, partSize);
    if (!done_.empty()) {
        DEBUG_LOG(L"resuming the part file of an earlier run: %lld of %lld bytes",
                  static_cast<long long>(CoveredBytes(done_)), static_cast<long long>(contentLength_));
        return;
    }
    if (partSize >= 0 || state) {
        // Never a mix of two files: what cannot be confirmed to be this file is thrown away.
        DEBUG_LOG(L"part file of an earlier run not resumable (%s): starting over",
                  state ? L"another URL, length or validator, or bytes missing" : L"no state file");
    }
    DeletePartFiles(path_);
}

int CurlClient::Transfer() {
    const int64_t length = static_cast<int64_t>(contentLength_);
    for (;;) {
        bool parallel =
            !singleStream_ && IsHttpUrl(effectiveUrl_) && UseParallelRanges(length, acceptRanges_, connections_);
        SpanList plan;
        if (parallel) {
            plan = PlanRanges(done_, length, connections_);
        } else {
            // One stream from the first missing byte to the end; whatever lies beyond a hole is fetched again.
            int64_t prefix = ContiguousPrefix(done_);
            done_ = prefix > 0 ? SpanList{{0, prefix}} : SpanList{};
            // Open-ended: the server's own framing says when the body is complete.
            plan = {{prefix, kOpenEnd}};
        }
        int result = RunRequests(plan, parallel);
        if (parallel && irregular_.empty() && result == 0 && !cancelled_ && !Gaps(done_, length).empty()) {
            continue; // never more requests at once than the setting: the rest of the gaps in the next round
        }
        if (!parallel || irregular_.empty()) {
            return result;
        }
        // The server does not serve ranges as it says it does: one stream from here on, and no retry spent.
        DEBUG_LOG(L"parallel ranges off for this download: %s", Utils::MultiByteToWide(irregular_, 65001).c_str());
        singleStream_ = true;
        irregular_.clear();
        if (cancelled_) {
            return CURLE_ABORTED_BY_CALLBACK;
        }
    }
}

namespace {

// Notes the libcurl result of every request that finished since the last look.
void NoteFinished(CURLM* multi, const std::vector<std::unique_ptr<CurlClient::Request>>& requests) {
    int left = 0;
    while (CURLMsg* msg = ::curl_multi_info_read(multi, &left)) {
        for (const auto& r : requests) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == r->easy.get()) {
                r->result = msg->data.result;
            }
        }
    }
}

} // namespace

int CurlClient::RunRequests(const SpanList& plan, bool parallel) {
    abortAttempt_ = false;
    irregular_.clear();
    resumeOffset_ = CoveredBytes(done_);
    lastReportTime_ = 0;
    if (!saver_) {
        saver_ = std::make_unique<StateSaver>(PartStatePath(path_));
    }
    Utils::UniqueCurlMulti multi(::curl_multi_init());
    if (!multi) {
        return ERR_EASY_INIT;
    }
    std::vector<std::unique_ptr<Request>> requests;
    int result = PrepareRequests(plan, parallel, requests);
    if (result != 0) {
        return result;
    }
    if (parallel) {
        DEBUG_LOG(L"%u ranges at once", static_cast<unsigned>(requests.size()));
    }
    result = PerformRequests(multi.get(), requests);
    CloseRequests(multi.get(), requests);
    result = JudgeRequests(requests, result);
    if (Resumable()) {
        SaveState(done_, true);
    } else if (saver_) {
        saver_->Flush(); // no save of this attempt lands after what follows (a rename, a deletion)
    }
    return result;
}

int CurlClient::PrepareRequests(const SpanList& plan, bool parallel, std::vector<std::unique_ptr<Request>>& requests) {
    const std::wstring partPath = PartPath(path_);
    for (const Span& span : plan) {
        auto r = std::make_unique<Request>();
        r->client = this;
        r->asked = span;
        r->parallel = parallel;
        int result = PrepareRequest(*r, partPath);
        if (result != 0) {
            return result;
        }
        requests.push_back(std::move(r));
    }
    return 0;
}

int CurlClient::PrepareRequest(Request& r, const std::wstring& partPath) {
    r.easy.reset(::curl_easy_init());
    if (!r.easy) {
        return ERR_EASY_INIT;
    }
    r.file = OpenPartFile(partPath);
    if (!r.file) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"part file not opened: %lu", error);
        return ERR_OPEN_PART_FILE;
    }
    CurlOptions options(r.easy.get());
    options.Add(RequestHeaders(r));
    options.Add(RequestOptions(r));
    r.usedProxy = proxy_.proxy;
    return options.First();
}

int CurlClient::RequestHeaders(Request& r) {
    CURL* h = r.easy.get();
    r.headers.reset(::curl_slist_append(r.headers.release(), "Connection: keep-alive"));
    // The package is saved as sent, and a range is a range of the file itself: no content coding.
    r.headers.reset(::curl_slist_append(r.headers.release(), "Accept-Encoding: identity"));
    CurlOptions options(h);
    if (r.asked.begin > 0 || r.parallel) {
        std::string range = std::to_string(r.asked.begin) + "-";
        if (r.parallel) {
            range += std::to_string(r.asked.end - 1);
        }
        options.Set(CURLOPT_RANGE, range.c_str());
        if (!validator_.empty() && IsHttpUrl(effectiveUrl_)) {
            // The bytes already there count only while the server still has the same file.
            r.headers.reset(::curl_slist_append(r.headers.release(), ("If-Range: " + validator_).c_str()));
            r.ifRange = true;
        }
    }
    return options.First();
}

int CurlClient::RequestOptions(Request& r) {
    CURL* h = r.easy.get();
    ::curl_easy_setopt(h, CURLOPT_HTTPHEADER, r.headers.get());
    ::curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    ::curl_easy_setopt(h, CURLOPT_TCP_KEEPIDLE, 10L);
    ::curl_easy_setopt(h, CURLOPT_TCP_KEEPINTVL, 10L);
    ::curl_easy_setopt(h, CURLOPT_TIMEOUT, 0L);
    CurlOptions options(h);
    options.Set(CURLOPT_URL, effectiveUrl_.c_str());
    options.Set(CURLOPT_FOLLOWLOCATION, 1L);
    options.Add(RedirectOptions(h, NarrowUrl(url_)));
    options.Set(CURLOPT_WRITEFUNCTION, &CurlClient::WriteData);
    options.Set(CURLOPT_WRITEDATA, &r);
    options.Set(CURLOPT_HEADERFUNCTION, &CurlClient::HeaderData);
    options.Set(CURLOPT_HEADERDATA, &r.facts);
    options.Set(CURLOPT_NOPROGRESS, 0L);
    options.Set(CURLOPT_XFERINFOFUNCTION, &CurlClient::TransferCallback);
    options.Set(CURLOPT_XFERINFODATA, &r);
    options.Set(CURLOPT_FAILONERROR, 1L);
    options.Set(CURLOPT_CONNECTTIMEOUT, 60L);
    options.Set(CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
    options.Set(CURLOPT_LOW_SPEED_TIME, lowSpeedTime_);
    options.Set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    options.Add(EnableServerCheck(h, r.check));
    options.Add(ApplyProxy(h));
    return options.First();
}

int CurlClient::PerformRequests(CURLM* multi, const std::vector<std::unique_ptr<Request>>& requests) {
    live_.clear();
    for (const auto& r : requests) {
        ::curl_multi_add_handle(multi, r->easy.get());
        live_.push_back(r.get());
    }
    const int64_t startTick = static_cast<int64_t>(::GetTickCount64());
    int running = 1;
    while (running > 0) {
        CURLMcode mc = ::curl_multi_perform(multi, &running);
        if (mc != CURLM_OK) {
            DEBUG_LOG(L"curl_multi_perform: %d", static_cast<int>(mc));
            return CURLE_OUT_OF_MEMORY;
        }
        NoteFinished(multi, requests);
        ProgressCallback(requests, startTick);
        if (running > 0) {
            ::curl_multi_poll(multi, nullptr, 0, 200, nullptr);
        }
    }
    return 0;
}

void CurlClient::CloseRequests(CURLM* multi, const std::vector<std::unique_ptr<Request>>& requests) {
    live_.clear();
    for (const auto& r : requests) {
        ::curl_multi_remove_handle(multi, r->easy.get());
        if (!CloseChecked(r->file) && r->code == 0) {
            DWORD error = ::GetLastError();
            DEBUG_LOG(L"part file not closed: %lu", error);
            r->code = CURLE_WRITE_ERROR; // written out before the state file says so, or not at all
            r->discard = true;
        }
    }
}

int CurlClient::JudgeRequests(const std::vector<std::unique_ptr<Request>>& requests, int result) {
    bool proxyNoted = false;
    for (const auto& r : requests) {
        if (r->written > 0 && !r->discard) {
            AddSpan(done_, {r->asked.begin, r->asked.begin + r->written});
        }
        int code = RequestCode(*r);
        if (code != 0) {
            // One failure moves on to the next proxy at most once per attempt: the other requests of the attempt
            // failed at the same proxy, not at the ones after it.
            if (!proxyNoted && r->usedProxy == proxy_.proxy) {
                NoteProxyFailure(r->easy.get(), code);
                proxyNoted = !proxyProblem_.empty();
            }
            if (result == 0 || code == ERR_SERVER_CERTIFICATE) {
                result = code;
            }
        }
    }
    return result;
}

int CurlClient::RequestCode(const Request& r) {
    int code = r.code != 0 ? r.code : r.result;
    if (code == CURLE_HTTP_RETURNED_ERROR) {
        // Where the redirections led may have gone stale (a signed URL that expired): ask the configured URL.
        effectiveUrl_.clear();
        ::curl_easy_getinfo(r.easy.get(), CURLINFO_RESPONSE_CODE, &httpStatus_);
    }
    if (code == CURLE_ABORTED_BY_CALLBACK && !r.check.problem.empty()) {
        code = ERR_SERVER_CERTIFICATE;
        serverCheck_.problem = r.check.problem;
    } else if (code == CURLE_ABORTED_BY_CALLBACK && abortAttempt_ && !cancelled_) {
        code = 0; // stopped because another range's answer was irregular
    } else if (code == CURLE_OK && r.asked.end != kOpenEnd && r.written < r.asked.end - r.asked.begin) {
        code = CURLE_PARTIAL_FILE;
    } else if (code == CURLE_OK && r.asked.end == kOpenEnd && contentLength_ > 0 &&
               r.asked.begin + r.written != static_cast<int64_t>(contentLength_)) {
        // The one stream ended (a short Content-Length, a close) before the file's length: a broken-off body.
        DEBUG_LOG(L"the answer ended at %lld of %lld bytes", static_cast<long long>(r.asked.begin + r.written),
                  static_cast<long long>(contentLength_));
        code = CURLE_PARTIAL_FILE;
    }
    return code;
}

void CurlClient::SaveState(const SpanList& spans, bool wait) {
    PartState state;
    state.url = StateUrl(url_);
    state.length = static_cast<int64_t>(contentLength_);
    state.validator = validator_;
    state.done = spans;
    if (state.done.size() > kMaxStateSpans) {
        state.done.resize(kMaxStateSpans);
    }
    if (!saver_) {
        saver_ = std::make_unique<StateSaver>(PartStatePath(path_));
    }
    saver_->Post(FormatPartState(state));
    if (wait) {
        saver_->Flush();
    }
}

void CurlClient::SaveWhileWriting() {
    if (contentLength_ <= 0 || validator_.empty()) {
        return;
    }
    int64_t written = 0;
    for (const Request* r : live_) {
        written += r->written;
    }
    const int64_t now = static_cast<int64_t>(::GetTickCount64());
    if (!saveRule_.Due(now, CoveredBytes(done_) + written)) {
        return;
    }
    saveRule_.Saved(now, CoveredBytes(done_) + written);
    // What a kill from here on would leave: the bytes the system has taken, and nothing else.
    SpanList there = done_;
    for (const Request* r : live_) {
        if (r->written > 0 && !r->discard) {
            AddSpan(there, {r->asked.begin, r->asked.begin + r->written});
        }
    }
    if (!there.empty()) {
        SaveState(there, false);
    }
}

void CurlClient::StartOver(HANDLE partFile) {
    done_.clear();
    resumeOffset_ = 0;
    if (partFile != nullptr) {
        (void)SetFileSize(partFile, 0);
    }
    ::DeleteFileW(PartStatePath(path_).c_str());
}

Utils::UniqueCurl CurlClient::Head(std::string narrowUrl) {
    Utils::UniqueCurl h(::curl_easy_init());
    int result = 0;
    if (h) {
        CurlOptions options(h.get());
        options.Set(CURLOPT_URL, narrowUrl.c_str());
        options.Set(CURLOPT_FOLLOWLOCATION, 1L);
        options.Add(RedirectOptions(h.get(), NarrowUrl(url_)));
        options.Set(CURLOPT_NOBODY, 1L);
        options.Set(CURLOPT_WRITEFUNCTION, &CurlClient::DiscardBody);
        options.Set(CURLOPT_HEADERFUNCTION, &CurlClient::HeaderData);
        options.Set(CURLOPT_HEADERDATA, &headFacts_);
        options.Set(CURLOPT_CONNECTTIMEOUT, headSeconds_ > 0 ? headSeconds_ : 60L);
        if (headSeconds_ > 0) {
            options.Set(CURLOPT_TIMEOUT, headSeconds_);
        }
        // Not a transfer the owner follows: these only let a stalled server or the owner's destruction end it.
        options.Set(CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
        options.Set(CURLOPT_LOW_SPEED_TIME, lowSpeedTime_);
        options.Set(CURLOPT_NOPROGRESS, 0L);
        options.Set(CURLOPT_XFERINFOFUNCTION, &CurlClient::HeadProgressCallback);
        options.Set(CURLOPT_XFERINFODATA, this);
        options.Add(EnableServerCheck(h.get(), serverCheck_));
        options.Add(ApplyProxy(h.get()));
        if (options.First() != CURLE_OK) {
            result = options.First();
        } else {
            result = ::curl_easy_perform(h.get());
            NoteProxyFailure(h.get(), result);
        }
    }
    if (result != 0) {
        DEBUG_LOG(L"error:%d:%s", result, CurlErrorText(result).c_str());
        failure_ = L"HEAD " + Utils::UrlForLog(url_) + L": " + CurlErrorText(result);
    }
    return h;
}

int CurlClient::ApplyProxy(CURL* h) const {
    // An empty proxy is a direct connection, whatever the environment's *_proxy variables say.
    CurlOptions options(h);
    options.Set(CURLOPT_PROXY, Utils::WideToMultiByte(proxy_.proxy, Utils::kCodePageUtf8).c_str());
    if (!proxy_.noProxy.empty()) {
        options.Set(CURLOPT_NOPROXY, Utils::WideToMultiByte(proxy_.noProxy, Utils::kCodePageUtf8).c_str());
    }
    return options.First();
}

void CurlClient::NoteProxyFailure(CURL* h, int result) {
    if (proxy_.proxy.empty() || result == CURLE_OK) {
        return;
    }
    long response = 0;
    long connect = 0;
    curl_off_t connectTime = 0;
    ::curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
    ::curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connect);
    ::curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime);
    if (IsProxyFailure(result, response, connect, connectTime > 0)) {
        proxyProblem_ = L"proxy " + ProxyForLog(proxy_.proxy) + L": " + CurlErrorText(result);
        if (connect != 0 || response == 407) {
            proxyProblem_ += L" (" + Utils::Decimal(connect != 0 ? connect : response) + L")";
        }
        DEBUG_LOG(L"%s", proxyProblem_.c_str());
        if (!proxy_.others.empty()) {
            proxy_.proxy = proxy_.others.front();
            proxy_.others.erase(proxy_.others.begin());
            DEBUG_LOG(L"next proxy: %s", ProxyForLog(proxy_.proxy).c_str());
        }
    }
}

double CurlClient::GetDownloadFileLength(CURL* h) {
    // The library reports -1 when the server gave no length; a null handle fails the query and keeps -1.
    curl_off_t length = -1;
    int result = ::curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return result == CURLE_OK ? static_cast<double>(length) : -1.0;
}

void CurlClient::ProgressCallback(const std::vector<std::unique_ptr<Request>>& requests, int64_t startTick) {
    // One report per wall-clock second; everything in between costs only this clock read.
    int64_t now = static_cast<int64_t>(::time(nullptr));
    if (now <= lastReportTime_) {
        return;
    }
    lastReportTime_ = now;
    int64_t dlnow = 0;
    int64_t dltotal = 0;
    for (const auto& r : requests) {
        dlnow += r->written;
        curl_off_t announced = -1;
        ::curl_easy_getinfo(r->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        dltotal += announced > 0 ? announced : 0;
    }
    // Average bytes per second of this attempt so far.
    int64_t elapsed = static_cast<int64_t>(::GetTickCount64()) - startTick;
    double speed = elapsed > 0 ? static_cast<double>(dlnow) * 1000.0 / static_cast<double>(elapsed) : 0.0;
    std::optional<double> percent = ProgressPercent(dlnow, dltotal, resumeOffset_, contentLength_);
    if (!percent) {
        return;
    }
    if (progressFn_ != nullptr) {
        progressFn_(owner_, speed, 0.0, *percent);
    }
    if (dltotal != 0) {
        DEBUG_LOG_RAW(L" %dM %dM   progress:%f%%  speed:%f \n", static_cast<int>(dlnow / 1048576),
                      static_cast<int>(dltotal / 1048576), static_cast<double>(static_cast<float>(*percent)),
                      static_cast<double>(static_cast<float>(speed / 1024)));
    }
}

int CurlClient::TransferCallback(void* request, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    CurlClient* self = static_cast<Request*>(request)->client;
    return self->cancelled_ || self->abortAttempt_ ? 1 : 0;
}

int CurlClient::HeadProgressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CurlClient*>(client)->cancelled_ ? 1 : 0;
}

namespace {

// How many more bytes the request may write: the rest of the range asked for, or of the file's length.
int64_t Room(const CurlClient::Request& r, double contentLength) {
    if (r.asked.end != kOpenEnd) {
        return r.asked.end - r.asked.begin - r.written;
    }
    if (contentLength > 0) {
        return static_cast<int64_t>(contentLength) - r.asked.begin - r.written;
    }
    return INT64_MAX;
}

// Writes `bytes` at `offset` of `file`; returns how many the system took.
DWORD WriteAt(HANDLE file, int64_t offset, const void* data, size_t bytes) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD put = 0;
    if (!::WriteFile(file, data, static_cast<DWORD>(bytes), &put, &at)) {
        DWORD error = ::GetLastError();
        DEBUG_LOG(L"WriteFile at %lld failed: %lu", static_cast<long long>(offset), error);
        put = 0;
    }
    return put;
}

} // namespace

size_t CurlClient::WriteData(void* data, size_t size, size_t count, void* request) {
    auto* r = static_cast<Request*>(request);
    CurlClient* self = r->client;
    if (!r->checked) {
        // The first body bytes: the status line and headers of the answer are all there.
        r->checked = true;
        if (!self->AcceptAnswer(*r)) {
            return 0;
        }
    }
    size_t bytes = size * count;
    if (static_cast<int64_t>(bytes) > Room(*r, self->contentLength_)) {
        self->RefuseLongAnswer(*r);
        return 0;
    }
    DWORD put = WriteAt(r->file.get(), r->asked.begin + r->written, data, bytes);
    r->written += static_cast<int64_t>(put);
    if (put == bytes) {
        self->SaveWhileWriting();
    }
    return put; // fewer than handed over: libcurl ends the request with CURLE_WRITE_ERROR
}

bool CurlClient::AcceptAnswer(Request& r) {
    bool http = r.facts.status != 0;
    std::string now = ValidatorOf(r.facts);
    const int64_t length = static_cast<int64_t>(contentLength_);
    if (r.parallel) {
        std::string problem = RangeProblem(r.facts, r.asked, length, validator_);
        if (!problem.empty()) {
            irregular_ = problem;
            abortAttempt_ = true;
            return false;
        }
    } else if (http && r.asked.begin > 0 && r.facts.status == 200) {
        return AcceptNewFile(r, now);
    } else if (http && r.facts.status == 206) {
        return AcceptRestOfFile(r, now, length);
    } else if (http && r.asked.begin == 0 && !now.empty() && now != validator_) {
        // The whole file, sent after the HEAD: its validator is the one the state file must name. When the HEAD
        // named another, the file changed in between: its length is this answer's too.
        if (!validator_.empty()) {
            DEBUG_LOG(L"the server's file changed since the HEAD (%hs, was %hs)", now.c_str(), validator_.c_str());
            TakeAnnouncedLength(r);
        }
        validator_ = now;
    }
    return true;
}

void CurlClient::TakeAnnouncedLength(Request& r) {
    curl_off_t announced = -1;
    ::curl_easy_getinfo(r.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > 0) {
        contentLength_ = static_cast<double>(announced); // the new file's length, for progress and state
    }
}

bool CurlClient::AcceptNewFile(Request& r, const std::string& now) {
    if (!r.ifRange) {
        r.code = CURLE_RANGE_ERROR; // a server that cannot resume: the bytes there cannot be matched
        return false;
    }
    // The server did not confirm the file of the part file: this answer is the whole new file.
    DEBUG_LOG(L"the server's file changed (If-Range not confirmed): starting over");
    r.asked.begin = 0;
    StartOver(r.file.get());
    TakeAnnouncedLength(r);
    validator_ = now;
    return true;
}

bool CurlClient::AcceptRestOfFile(Request& r, const std::string& now, int64_t length) {
    // Every range answer of the one stream is checked as the parallel ones are: the same file, and exactly the
    // rest of it.
    if (!validator_.empty() && !now.empty() && now != validator_) {
        DEBUG_LOG(L"the server's file changed (%hs, was %hs) under a resumed range: starting over", now.c_str(),
                  validator_.c_str());
        StartOver(r.file.get());
        effectiveUrl_.clear(); // the next attempt asks for the new file's length and validator
        r.code = ERR_FILE_CHANGED;
        return false;
    }
    if (!ContentRangeIs(r.facts.contentRange, {r.asked.begin, length}, length)) {
        DEBUG_LOG(L"Content-Range \"%hs\" for bytes %lld-%lld/%lld", r.facts.contentRange.c_str(),
                  static_cast<long long>(r.asked.begin), static_cast<long long>(length - 1),
                  static_cast<long long>(length));
        r.code = CURLE_RANGE_ERROR;
        return false;
    }
    return true;
}

void CurlClient::RefuseLongAnswer(Request& r) {
    // More than the range or the file holds: never written over the next range or past the end, and the answer
    // as a whole is not trusted.
    r.discard = true;
    if (r.parallel) {
        irregular_ = "an answer longer than the range asked for";
        abortAttempt_ = true;
    } else {
        r.code = ERR_ANSWER_TOO_LONG;
    }
}

size_t CurlClient::HeaderData(char* data, size_t size, size_t count, void* facts) {
    ParseHeaderLine(std::string(data, size * count), *static_cast<ResponseFacts*>(facts));
    return size * count;
}

size_t CurlClient::DiscardBody(void*, size_t size, size_t count, void*) {
    return size * count;
}
