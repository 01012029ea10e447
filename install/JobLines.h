// Line handling shared by the install job and the removal job: both frame their child's output into lines, decode
// each line with the code page in force when it is reached, and report what the lines say.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "download/Downloader.h"
#include "install/ConsoleProcess.h"
#include "install/ConsoleProtocol.h"

namespace JobLines {

// How long an unfinished line is held for the rest of it. A line cut between two reads is joined when the rest
// comes soon; text that stays without a line end is judged once the output has been silent this long, and only
// when it is a whole verdict already (a verdict written last, with no line end, by a child that then keeps
// running). Any other fragment ("State=Fa") waits for its line end or for the child's end: judged early, the two
// halves of a split verdict would be two lines that mean nothing.
constexpr DWORD kTailHoldMs = 300;

// Which decisive line decides.
enum class Verdict {
    // The install job: the read that holds the first decisive line decides, a failure line of it over a success
    // line (whose report is then left out); the rest of that read, its unfinished tail included, is still parsed,
    // and its other events are reported before the verdict so that the window knows every fact of the read when
    // it hears the outcome.
    LastOfDecidingRead,
    // The removal job: the first decisive line; nothing after it is parsed.
    FirstLine,
};

class Reader {
public:
    // Takes one decoded line (without its line end) and says what it means; applies code-page changes itself.
    using ParseLine = std::function<ConsoleProtocol::LineOutcome(const std::wstring& line)>;

    // `codePage` is read for every line as it stands then: an "Encode=" line applies from the next line on.
    Reader(Verdict rule, const int& codePage, ParseLine parse, DownloadCallback callback);

    // The bytes of one read. Nothing more is parsed once the outcome is decided.
    void Feed(std::string_view bytes);
    // The output has ended: the unfinished line, if any, is parsed as a read ending there would have been.
    void FlushTail();
    // The output has paused: the unfinished line is parsed as FlushTail does only when it is a whole decisive line
    // as it stands; otherwise it stays held.
    void JudgeHeldTail();
    [[nodiscard]] bool HoldingTail() const { return splitter_.Holding(); }
    // ConsoleProtocol::kResultNone until a decisive line was reported, then its result.
    [[nodiscard]] int Decided() const { return decided_; }

private:
    void ParseRead(const std::vector<std::string>& lines, bool tailBelongsToRead);

    Verdict rule_;
    const int& codePage_;
    ParseLine parse_;
    DownloadCallback callback_;
    ConsoleProtocol::LineSplitter splitter_;
    int decided_ = ConsoleProtocol::kResultNone;
};

// Reads `process`'s output to its end through `reader`: an unfinished line is parsed after kTailHoldMs of silence;
// once the outcome is decided the rest is read unparsed, in pieces of `drainReadSize`, so that the child never
// blocks on a full pipe while the job waits for it. Returns the decided result (kResultNone: no decisive line).
int FollowOutput(CConsoleProcess& process, Reader& reader, size_t readSize, size_t drainReadSize);

} // namespace JobLines
