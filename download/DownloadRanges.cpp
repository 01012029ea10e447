#include "download/DownloadRanges.h"

#include <algorithm>
#include <cctype>

void AddSpan(SpanList& spans, Span span) {
    if (span.end <= span.begin) {
        return;
    }
    SpanList merged;
    merged.reserve(spans.size() + 1);
    bool placed = false;
    for (const Span& s : spans) {
        if (s.end < span.begin) {
            merged.push_back(s);
        } else if (span.end < s.begin) {
            if (!placed) {
                merged.push_back(span);
                placed = true;
            }
            merged.push_back(s);
        } else {
            span.begin = std::min(span.begin, s.begin);
            span.end = std::max(span.end, s.end);
        }
    }
    if (!placed) {
        merged.push_back(span);
    }
    spans.swap(merged);
}

int64_t CoveredBytes(const SpanList& spans) {
    int64_t total = 0;
    for (const Span& s : spans) {
        total += s.end - s.begin;
    }
    return total;
}

int64_t ContiguousPrefix(const SpanList& spans) {
    return !spans.empty() && spans.front().begin == 0 ? spans.front().end : 0;
}

SpanList Gaps(const SpanList& done, int64_t length) {
    SpanList gaps;
    int64_t at = 0;
    for (const Span& s : done) {
        if (s.begin >= length) {
            break;
        }
        if (s.begin > at) {
            gaps.push_back({at, s.begin});
        }
        at = std::max(at, s.end);
    }
    if (at < length) {
        gaps.push_back({at, length});
    }
    return gaps;
}

bool UseParallelRanges(int64_t length, bool acceptRanges, int connections) {
    return connections > 1 && acceptRanges && length >= kParallelThresholdBytes;
}

SpanList PlanRanges(const SpanList& done, int64_t length, int connections) {
    SpanList pieces = Gaps(done, length);
    // Never more requests than connections, however many holes a state file left: the first ones now, the rest
    // in later rounds.
    if (static_cast<int>(pieces.size()) > connections) {
        pieces.resize(static_cast<size_t>(connections < 1 ? 1 : connections));
    }
    while (static_cast<int>(pieces.size()) < connections) {
        auto longest = std::max_element(pieces.begin(), pieces.end(),
                                        [](const Span& a, const Span& b) { return a.end - a.begin < b.end - b.begin; });
        if (longest == pieces.end() || longest->end - longest->begin < 2 * kMinRangeBytes) {
            break;
        }
        int64_t middle = longest->begin + (longest->end - longest->begin) / 2;
        Span second{middle, longest->end};
        longest->end = middle;
        pieces.insert(longest + 1, second);
    }
    return pieces;
}

namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// A decimal number of at most 18 digits, nothing else.
std::optional<int64_t> ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

bool Printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
}

} // namespace

void ParseHeaderLine(const std::string& line, ResponseFacts& facts) {
    if (line.rfind("HTTP/", 0) == 0) {
        facts = ResponseFacts{};
        size_t space = line.find(' ');
        if (space != std::string::npos) {
            facts.status = std::strtol(line.c_str() + space + 1, nullptr, 10);
        }
        return;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return;
    }
    std::string name = Lower(Trim(line.substr(0, colon)));
    std::string value = Trim(line.substr(colon + 1));
    if (name == "accept-ranges") {
        facts.acceptRanges = Lower(value) == "bytes";
    } else if (name == "content-range") {
        facts.contentRange = value;
    } else if (name == "etag") {
        facts.etag = value;
    } else if (name == "last-modified") {
        facts.lastModified = value;
    }
}

std::string ValidatorOf(const ResponseFacts& facts) {
    if (!facts.etag.empty() && facts.etag.rfind("W/", 0) != 0) {
        return facts.etag;
    }
    return facts.lastModified;
}

bool ContentRangeIs(const std::string& value, Span span, int64_t length) {
    return value ==
           "bytes " + std::to_string(span.begin) + "-" + std::to_string(span.end - 1) + "/" + std::to_string(length);
}

std::string RangeProblem(const ResponseFacts& facts, Span asked, int64_t length, const std::string& validator) {
    if (facts.status != 206) {
        return "answered " + std::to_string(facts.status) + " where 206 was asked for";
    }
    if (!ContentRangeIs(facts.contentRange, asked, length)) {
        return "Content-Range \"" + facts.contentRange + "\" for bytes " + std::to_string(asked.begin) + "-" +
               std::to_string(asked.end - 1) + "/" + std::to_string(length);
    }
    std::string now = ValidatorOf(facts);
    if (!validator.empty() && !now.empty() && now != validator) {
        return "validator changed from " + validator + " to " + now;
    }
    return {};
}

std::string FormatPartState(const PartState& state) {
    // Plain string building: the string streams would bring the C++ locales into the installer.
    std::string out = "tunivox-part 1\n";
    out += "url " + state.url + "\n";
    out += "length " + std::to_string(state.length) + "\n";
    out += "validator " + state.validator + "\n";
    for (const Span& s : state.done) {
        out += "done " + std::to_string(s.begin) + " " + std::to_string(s.end) + "\n";
    }
    return out;
}

std::optional<PartState> ParsePartState(const std::string& text) {
    if (text.size() > kMaxStateFileBytes) {
        return std::nullopt;
    }
    // Lines end with '\n'; the last one may lack it.
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (lines.empty() || lines.front() != "tunivox-part 1") {
        return std::nullopt;
    }
    PartState state;
    bool haveUrl = false, haveLength = false, haveValidator = false;
    size_t spans = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        size_t space = line.find(' ');
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (!Printable(value)) {
            return std::nullopt;
        }
        if (key == "url" && !haveUrl) {
            state.url = value;
            haveUrl = true;
        } else if (key == "length" && !haveLength) {
            auto n = ParseCount(value);
            if (!n || *n <= 0) {
                return std::nullopt;
            }
            state.length = *n;
            haveLength = true;
        } else if (key == "validator" && !haveValidator) {
            state.validator = value;
            haveValidator = true;
        } else if (key == "done" && haveLength && ++spans <= kMaxStateSpans) {
            size_t gap = value.find(' ');
            if (gap == std::string::npos) {
                return std::nullopt;
            }
            int64_t begin = ParseCount(value.substr(0, gap)).value_or(-1);
            int64_t end = ParseCount(value.substr(gap + 1)).value_or(-1);
            if (begin < 0 || end <= begin || end > state.length) {
                return std::nullopt;
            }
            AddSpan(state.done, {begin, end});
        } else {
            return std::nullopt;
        }
    }
    if (!haveUrl || !haveLength || !haveValidator || state.url.empty()) {
        return std::nullopt;
    }
    return state;
}

SpanList ResumeSpans(const std::optional<PartState>& state, const std::string& url, int64_t length,
                     const std::string& validator, int64_t partFileSize) {
    if (!state || validator.empty() || state->url != url || state->length != length || state->validator != validator) {
        return {};
    }
    if (!state->done.empty() && state->done.back().end > partFileSize) {
        return {}; // the state claims bytes the file does not hold
    }
    return state->done;
}
