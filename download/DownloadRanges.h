// The pure rules of a download in byte ranges: which parts of the file are there, how the rest is split among
// parallel requests, whether a range answer is the one asked for, the state file that lets a later run resume,
// and when it may. Nothing here touches a file, a socket or a clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Half-open byte span [begin, end) of the package.
struct Span {
    int64_t begin = 0;
    int64_t end = 0;
    bool operator==(const Span& other) const = default;
};
// Sorted, non-overlapping, non-adjacent spans (AddSpan keeps them so).
using SpanList = std::vector<Span>;

// Parallel ranges only for a file at least this long, and never in pieces smaller than kMinRangeBytes.
constexpr int64_t kParallelThresholdBytes = 16 * 1024 * 1024;
constexpr int64_t kMinRangeBytes = 1024 * 1024;
constexpr int kDefaultConnections = 4;

void AddSpan(SpanList& spans, Span span);
int64_t CoveredBytes(const SpanList& spans);
// Bytes from 0 that are there without a hole.
int64_t ContiguousPrefix(const SpanList& spans);
SpanList Gaps(const SpanList& done, int64_t length);

// Whether a download of `length` bytes is fetched in parallel ranges.
bool UseParallelRanges(int64_t length, bool acceptRanges, int connections);
// The requests of one round: the first `connections` gaps of `done`, the longest piece halved while there are
// fewer than `connections` pieces and it is at least twice kMinRangeBytes. In file order; never more than
// `connections` pieces.
SpanList PlanRanges(const SpanList& done, int64_t length, int connections);

// What the header lines of one answer said (after redirections: a new status line starts a new answer).
struct ResponseFacts {
    long status = 0;
    bool acceptRanges = false;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
};
// One header line as libcurl hands it over (CRLF included).
void ParseHeaderLine(const std::string& line, ResponseFacts& facts);
// What If-Range can confirm: the ETag unless it is weak, else Last-Modified; empty when the server gave neither.
std::string ValidatorOf(const ResponseFacts& facts);
// "bytes FIRST-LAST/TOTAL" exactly for the span and the whole length.
bool ContentRangeIs(const std::string& value, Span span, int64_t length);
// Why an answer to a request for `asked` of a `length`-byte file with validator `validator` cannot be written
// into the part file; empty when it can.
std::string RangeProblem(const ResponseFacts& facts, Span asked, int64_t length, const std::string& validator);

// The state file beside the part file: what a later run needs to resume it.
struct PartState {
    std::string url; // as configured (UTF-8), not where redirections led
    int64_t length = 0;
    std::string validator;
    SpanList done;
};
constexpr size_t kMaxStateFileBytes = 16 * 1024;
constexpr size_t kMaxStateSpans = 256;
std::string FormatPartState(const PartState& state);
// Nothing unless the text is a well-formed state of bounded size; the file is written by whoever can write the
// folder, so every field is checked.
std::optional<PartState> ParsePartState(const std::string& text);
// The spans of the earlier run's part file that this run may keep: the URL, the length and the validator must be
// this run's (a validator there is), and every span must lie within the file as it is on disk. Empty: start over.
// The server still has to confirm the validator (If-Range) before a byte of it counts.
SpanList ResumeSpans(const std::optional<PartState>& state, const std::string& url, int64_t length,
                     const std::string& validator, int64_t partFileSize);
