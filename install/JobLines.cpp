#include "install/JobLines.h"

#include "utils/TextConv.h"

namespace JobLines {

Reader::Reader(Verdict rule, const int& codePage, ParseLine parse, DownloadCallback callback)
    : rule_(rule), codePage_(codePage), parse_(std::move(parse)), callback_(std::move(callback)) {}

void Reader::Feed(std::string_view bytes) {
    if (decided_ != ConsoleProtocol::kResultNone) {
        return;
    }
    ParseRead(splitter_.Feed(bytes), true);
}

void Reader::FlushTail() {
    if (decided_ != ConsoleProtocol::kResultNone) {
        return;
    }
    if (std::optional<std::string> tail = splitter_.Finish()) {
        ParseRead({*tail}, false);
    }
}

void Reader::JudgeHeldTail() {
    if (decided_ != ConsoleProtocol::kResultNone || !splitter_.Holding()) {
        return;
    }
    // Parsing has effects (reports, "Encode="): the held text is only looked at here, and parsed once it is known
    // to decide.
    std::wstring text = Utils::MultiByteToWide(splitter_.Held(), static_cast<unsigned>(codePage_));
    if (!text.empty() && text.back() == L'\r') {
        text.pop_back();
    }
    if (!ConsoleProtocol::IsWholeVerdict(text)) {
        return;
    }
    FlushTail();
}

void Reader::ParseRead(const std::vector<std::string>& lines, bool tailBelongsToRead) {
    auto outcomeOf = [this](const std::string& line) {
        std::wstring text = Utils::MultiByteToWide(line, static_cast<unsigned>(codePage_));
        // The package writes CRLF: the carriage return is not part of the value.
        if (!text.empty() && text.back() == L'\r') {
            text.pop_back();
        }
        return parse_(text);
    };
    auto report = [this](const ConsoleProtocol::LineOutcome& outcome) {
        if (outcome.report) {
            callback_(outcome.report->code, outcome.report->value, outcome.report->message.c_str());
        }
    };
    if (rule_ == Verdict::FirstLine) {
        for (const std::string& line : lines) {
            ConsoleProtocol::LineOutcome outcome = outcomeOf(line);
            report(outcome);
            if (outcome.result != ConsoleProtocol::kResultNone) {
                decided_ = outcome.result;
                return;
            }
        }
        return;
    }

    std::vector<ConsoleProtocol::LineOutcome> outcomes;
    bool deciding = false;
    for (const std::string& line : lines) {
        outcomes.push_back(outcomeOf(line));
        deciding = deciding || outcomes.back().result != ConsoleProtocol::kResultNone;
    }
    if (deciding && tailBelongsToRead) {
        // Nothing is read after this read: its unfinished tail is all there is of that line.
        if (std::optional<std::string> tail = splitter_.Finish()) {
            outcomes.push_back(outcomeOf(*tail));
        }
    }
    for (const ConsoleProtocol::LineOutcome& outcome : outcomes) {
        if (outcome.result == ConsoleProtocol::kResultNone) {
            report(outcome);
        }
    }
    // One verdict per job: a failure anywhere in the deciding read outweighs a success beside it, which is not
    // reported (a package that says "Error=" and then "State=Success" has not installed cleanly).
    bool failed = false;
    for (const ConsoleProtocol::LineOutcome& outcome : outcomes) {
        failed = failed || outcome.result == ConsoleProtocol::kResultFailure;
    }
    for (const ConsoleProtocol::LineOutcome& outcome : outcomes) {
        if (outcome.result == ConsoleProtocol::kResultNone ||
            (failed && outcome.result != ConsoleProtocol::kResultFailure)) {
            continue;
        }
        report(outcome);
        decided_ = outcome.result;
    }
}

int FollowOutput(CConsoleProcess& process, Reader& reader, size_t readSize, size_t drainReadSize) {
    std::string chunk;
    bool judged = false;
    for (;;) {
        const bool open = reader.Decided() == ConsoleProtocol::kResultNone;
        // A held fragment is judged once per pause: after that only more output or the end can change it.
        DWORD silence = open && reader.HoldingTail() && !judged ? kTailHoldMs : INFINITE;
        CConsoleProcess::Read read = process.ReadOutput(chunk, open ? readSize : drainReadSize, silence);
        if (read == CConsoleProcess::Read::kEnded) {
            break;
        }
        if (read == CConsoleProcess::Read::kSilent) {
            reader.JudgeHeldTail();
            judged = true;
        } else {
            reader.Feed(chunk);
            judged = false;
        }
    }
    reader.FlushTail();
    return reader.Decided();
}

} // namespace JobLines
