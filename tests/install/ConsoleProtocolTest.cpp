#include <gtest/gtest.h>

#include "install/ConsoleProtocol.h"
#include "install/StatusCodes.h"

using namespace ConsoleProtocol;

namespace {

struct LineCase {
    const wchar_t* line;
    bool reports;
    Report report;
    int result;
};

} // namespace

TEST(ConsoleProtocol, PackageLinesGiveTheirReportsAndResults) {
    const LineCase cases[] = {
        {L"Progress=0.5", true, {IST_CODE_PROGRESS, 0.5, L""}, 0},
        {L"Progress=abc", true, {IST_CODE_PROGRESS, 0.0, L""}, 0},
        {L"Progress= 0.25", true, {IST_CODE_PROGRESS, 0.25, L""}, 0}, // %lf skips blanks after the key
        {L"Progress=", true, {IST_CODE_PROGRESS, 0.0, L""}, 0},
        {L" Progress=0.5", false, {}, 0}, // a leading blank: no key matches
        {L"progress=0.5", false, {}, 0},  // keys are case-sensitive
        {L"InstPath=D:\\Apps\\Tunivox", true, {IST_CODE_INST_PATH, 0.0, L"D:\\Apps\\Tunivox"}, 0},
        {L"State=Success", true, {IST_CODE_SUCCESS, 0.0, L""}, kResultSuccess},
        {L"State=Fail", true, {IST_CODE_FAIL, 0.0, L"安装包安装失败"}, kResultFailure},
        {L"State=success", false, {}, 0},
        {L"State=Success ", false, {}, 0},
        {L"State=Running", false, {}, 0},
        {L"InstallVersion=1.2.3", false, {}, 0},
        {L"ExePath=C:\\P\\a.exe", true, {IST_CODE_EXE_PATH, 0.0, L"C:\\P\\a.exe"}, 0},
        {L"StartExe=C:\\P\\a.exe", true, {IST_CODE_EXE_PATH, 0.0, L"C:\\P\\a.exe"}, 0},
        {L"UninstExePath=C:\\P\\un.exe", true, {IST_CODE_UNINST_EXE, 0.0, L"C:\\P\\un.exe"}, 0},
        {L"UninstExe=C:\\P\\un.exe", true, {IST_CODE_UNINST_EXE, 0.0, L"C:\\P\\un.exe"}, 0},
        {L"UninstEp=\"C:\\P\\un.exe\" /S", true, {IST_CODE_UNINST_EP, 0.0, L"\"C:\\P\\un.exe\" /S"}, 0},
        {L"Error=disk full", true, {IST_CODE_FAIL, 1000.0, L"disk full"}, kResultFailure},
        {L"Error=", true, {IST_CODE_FAIL, 1000.0, L""}, kResultFailure},
        {L"TopShowDetention=-1", true, {IST_CODE_TOP_SHOW_DETENTION, 4294967295.0, L""}, 0},
        {L"TopShowDetention=3000", true, {IST_CODE_TOP_SHOW_DETENTION, 3000.0, L""}, 0},
        {L"TopShowDetention=x", true, {IST_CODE_TOP_SHOW_DETENTION, 0.0, L""}, 0},
        {L"FinsihCloseDetention=5000", true, {IST_CODE_FINISH_CLOSE_DETENTION, 5000.0, L""}, 0},
        {L"FinishCloseDetention=5000", false, {}, 0}, // the wire spelling is "Finsih"
        {L"StartUrl=https://example.com/?a=b", true, {IST_CODE_START_URL, 0.0, L"https://example.com/?a=b"}, 0},
        {L"StartupStyle=NonStartup", true, {IST_CODE_STARTUP_STYLE, 0.0, L""}, 0},
        {L"StartupStyle=AutoStartup", true, {IST_CODE_STARTUP_STYLE, 1.0, L""}, 0},
        {L"StartupStyle=UserStartup", true, {IST_CODE_STARTUP_STYLE, 2.0, L""}, 0},
        {L"StartupStyle=autostartup", true, {IST_CODE_STARTUP_STYLE, 0.0, L""}, 0},
        {L"StartupStyle=Other", true, {IST_CODE_STARTUP_STYLE, 0.0, L""}, 0},
        {L"Message=安装完成", true, {IST_CODE_MESSAGE, 0.0, L"安装完成"}, 0},
        {L"Encode=UTF8", false, {}, 0},
        {L"Hello=world", false, {}, 0},
        {L"", false, {}, 0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        LineOutcome out = ParsePackageLine(c.line);
        ASSERT_EQ(out.report.has_value(), c.reports);
        if (c.reports) {
            EXPECT_EQ(out.report->code, c.report.code);
            EXPECT_DOUBLE_EQ(out.report->value, c.report.value);
            EXPECT_EQ(out.report->message, c.report.message);
        }
        EXPECT_EQ(out.result, c.result);
    }
}

TEST(ConsoleProtocol, PackageValuesAreCutAt771Characters) {
    std::wstring longText(800, L'x');
    LineOutcome out = ParsePackageLine(L"Message=" + longText);
    ASSERT_TRUE(out.report);
    EXPECT_EQ(out.report->message, std::wstring(771, L'x'));
}

TEST(ConsoleProtocol, EncodeValuesGiveTheCodePageAskedFor) {
    const std::pair<const wchar_t*, long> cases[] = {
        {L"Encode=UTF8", 65001},
        {L"Encode=ACP", 0},
        {L"Encode=936", 936},
        {L"Encode=x", 0},
        {L"Encode=", 0},
        {L"Encode= 1252", 1252},
        {L"Encode=+950", 950},
        {L"Encode=-5", -5},
        {L"Encode=65001abc", 65001},
        {L"Encode=utf8", 0},
        {L"Encode=99999999999", 2147483647L},
    };
    for (auto [line, page] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(line)));
        LineOutcome out = ParsePackageLine(line);
        ASSERT_TRUE(out.codePage.has_value());
        EXPECT_EQ(*out.codePage, page);
        EXPECT_FALSE(out.report);
    }
}

TEST(ConsoleProtocol, UninstallerKnowsOnlyItsFourKeys) {
    const LineCase cases[] = {
        {L"Progress=0.5", true, {UNI_CODE_PROGRESS, 0.5, L""}, 0},
        {L"Progress=abc", true, {UNI_CODE_PROGRESS, 0.0, L""}, 0},
        {L"Error=x", true, {UNI_CODE_FAIL, 0.0, L"x"}, kResultFailure},
        {L"State=Success", true, {UNI_CODE_SUCCESS, 0.0, L""}, kResultSuccess},
        {L"State=Fail", true, {UNI_CODE_FAIL, 0.0, L"安装包卸载失败"}, kResultFailure},
        {L"State=Other", false, {}, 0},
        {L"InstPath=C:\\x", false, {}, 0},
        {L"ExePath=C:\\x\\a.exe", false, {}, 0},
        {L"Message=hello", false, {}, 0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        LineOutcome out = ParseUninstallerLine(c.line);
        ASSERT_EQ(out.report.has_value(), c.reports);
        if (c.reports) {
            EXPECT_EQ(*out.report, c.report);
        }
        EXPECT_EQ(out.result, c.result);
    }
    const std::pair<const wchar_t*, long> encodes[] = {{L"Encode=UTF8", 65001}, {L"Encode=936", 0}, {L"Encode=ACP", 0}};
    for (auto [line, page] : encodes) {
        LineOutcome out = ParseUninstallerLine(line);
        ASSERT_TRUE(out.codePage);
        EXPECT_EQ(*out.codePage, page) << testing::PrintToString(std::wstring(line));
    }
}

TEST(ConsoleProtocol, NumberReadersFollowTheScanfConversions) {
    const std::pair<const wchar_t*, double> doubles[] = {
        {L"0.5", 0.5}, {L"  1", 1.0}, {L"1e-1x", 0.1}, {L"-0.25", -0.25}, {L"abc", 0.0}, {L"", 0.0}, {L".5", 0.5}};
    for (auto [text, value] : doubles) {
        EXPECT_DOUBLE_EQ(ReadDouble(text), value) << testing::PrintToString(std::wstring(text));
    }
    const std::pair<const wchar_t*, int> ints[] = {
        {L"42", 42},        {L" -7", -7}, {L"+3x", 3}, {L"x", 0}, {L"", 0}, {L"-1", -1}, {L"2147483647", 2147483647},
        {L"4294967295", -1}};
    for (auto [text, value] : ints) {
        EXPECT_EQ(ReadInt(text), value) << testing::PrintToString(std::wstring(text));
    }
}

TEST(ConsoleProtocol, SplitLinesRemovesOneCarriageReturnPerLine) {
    // Fault caught: "State=Fail\r" not matching "Fail", so a CRLF package's failure would end as a success.
    const std::pair<const wchar_t*, std::vector<std::wstring>> cases[] = {
        {L"State=Fail\r\n", {L"State=Fail"}},
        {L"a\r\nb\r\n", {L"a", L"b"}},
        {L"a\nb", {L"a", L"b"}},
        {L"a\r\r\n", {L"a\r"}},
        {L"\r\n", {L""}},
        {L"a\rb\n", {L"a\rb"}},
        {L"", {}},
        {L"tail only", {L"tail only"}},
    };
    for (const auto& [text, lines] : cases) {
        EXPECT_EQ(SplitLines(text), lines) << testing::PrintToString(std::wstring(text));
    }
    LineOutcome fail = ParsePackageLine(SplitLines(L"State=Fail\r\n").at(0));
    EXPECT_EQ(fail.result, kResultFailure);
}

TEST(ConsoleProtocol, LineSplitterJoinsLinesThatReadsCut) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::vector<std::vector<std::string>> linesPerRead;
        std::optional<std::string> tail;
    };
    const Case cases[] = {
        {"whole lines", {"a\nb\n"}, {{"a", "b"}}, std::nullopt},
        {"State=Fa + il", {"State=Fa", "il\n"}, {{}, {"State=Fail"}}, std::nullopt},
        {"CRLF cut between CR and LF", {"State=Fail\r", "\nX"}, {{}, {"State=Fail\r"}}, "X"},
        {"tail at the end", {"a\nState=Fail"}, {{"a"}}, "State=Fail"},
        {"three pieces", {"Pro", "gress", "=0.5\nMe"}, {{}, {}, {"Progress=0.5"}}, "Me"},
        // A zero byte is dropped and nothing else: the line end after it still ends its line.
        {"zero bytes", {std::string("ab\0cd\n", 6), std::string("\0ef\n\0", 5)}, {{"abcd"}, {"ef"}}, std::nullopt},
        {"empty reads", {"", "a", "", "\n"}, {{}, {}, {}, {"a"}}, std::nullopt},
        {"empty lines", {"\n\n"}, {{"", ""}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineSplitter splitter;
        for (size_t i = 0; i < c.reads.size(); ++i) {
            EXPECT_EQ(splitter.Feed(c.reads[i]), c.linesPerRead[i]) << "read " << i;
        }
        EXPECT_EQ(splitter.Finish(), c.tail);
        EXPECT_EQ(splitter.Finish(), std::nullopt) << "the tail is handed out once";
    }
}

TEST(ConsoleProtocol, MultiByteCharactersCutAtEveryByteAreJoined) {
    // "Message=安装\n" in UTF-8 and in GBK (code page 936), cut into two reads at every position: the line comes
    // out whole, so decoding it gives the characters and not two broken halves.
    const std::string utf8 = "Message=\xE5\xAE\x89\xE8\xA3\x85\n";
    const std::string gbk = "Message=\xB0\xB2\xD7\xB0\n";
    for (const std::string& whole : {utf8, gbk}) {
        for (size_t cut = 1; cut < whole.size(); ++cut) {
            LineSplitter splitter;
            std::vector<std::string> first = splitter.Feed(whole.substr(0, cut));
            std::vector<std::string> second = splitter.Feed(whole.substr(cut));
            EXPECT_TRUE(first.empty()) << cut;
            ASSERT_EQ(second.size(), 1u) << cut;
            EXPECT_EQ(second[0] + "\n", whole) << cut;
        }
    }
}

TEST(ConsoleProtocol, AnOverlongLineIsCutNotHeld) {
    LineSplitter splitter;
    std::string chatter(1 << 20, 'x');
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(splitter.Feed(chatter).empty());
    }
    std::vector<std::string> lines = splitter.Feed("\nState=Fail\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), kMaxLineBytes);
    EXPECT_EQ(lines[1], "State=Fail");
}

// ------------------------------------------------------------------------------------------ generated streams
//
// Both jobs' real line handling (JobLines::Reader with each job's own line parser and code-page rule) against a
// model, on generated output streams cut into reads at random points. Each line of a stream is generated with the
// event it stands for, so the model knows the truth without parsing; only the unfinished tail of the deciding
// read (a prefix of some line) is judged by the line parser. Replay a failure with TUNIVOX_PROPERTY_SEED=<seed>.

#include <cstdio>
#include <cstdlib>
#include <random>

#include "install/PackageInstaller.h"
#include "install/UnInstaller.h"
#include "utils/TextConv.h"

namespace {

struct Event {
    int code;
    double value;
    std::wstring message;
    bool operator==(const Event&) const = default;
};

void PrintTo(const Event& e, std::ostream* os) {
    *os << "{" << e.code << ", " << e.value << ", " << testing::PrintToString(e.message) << "}";
}

enum class Kind { Progress, Message, Unknown, Encode, Success, Fail, Error, Spoiled };
enum class End { Lf, CrLf, Pause, None };

struct GenLine {
    Kind kind;
    std::string bytes; // without the line end
    End end;
    double number = 0;     // Progress
    std::string encode;    // Encode value
    std::string errorText; // Error
};

struct Stream {
    std::vector<GenLine> lines;
};

constexpr size_t kKeyLen = 8; // "Message=" and the unknown key "#Unknown" have the same length

std::string RandomBytes(std::mt19937& rng, size_t n) {
    static const std::string pieces[] = {"a",
                                         "Z",
                                         "0",
                                         " ",
                                         "=",
                                         "\xE5\xAE\x89",
                                         "\xB0\xB2",
                                         "\xFF",
                                         "\x80",
                                         "\xC3",
                                         std::string(1, '\0'),
                                         "\\",
                                         "State=Success",
                                         "\xE8"};
    std::string out;
    while (out.size() < n) {
        out += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
    }
    return out;
}

Stream Generate(std::mt19937& rng) {
    Stream s;
    size_t count = 1 + rng() % 14;
    for (size_t i = 0; i < count; ++i) {
        GenLine l{};
        unsigned pick = rng() % 100;
        bool longLine = rng() % 40 == 0;
        if (pick < 25) {
            l.kind = Kind::Progress;
            l.number = static_cast<double>(rng() % 9) / 8.0;
            char text[32];
            std::snprintf(text, sizeof(text), "Progress=%g", l.number);
            l.bytes = text;
        } else if (pick < 45) {
            l.kind = Kind::Message;
            l.bytes = "Message=" + RandomBytes(rng, longLine ? 1 + rng() % 65536 : rng() % 40);
        } else if (pick < 60) {
            l.kind = Kind::Unknown;
            l.bytes = "#Unknown" + RandomBytes(rng, longLine ? 1 + rng() % 65536 : rng() % 40);
        } else if (pick < 72) {
            static const char* values[] = {"UTF8", "ACP", "936", "junk", "99999", "65001"};
            l.kind = Kind::Encode;
            l.encode = values[rng() % 6];
            l.bytes = "Encode=" + l.encode;
        } else if (pick < 80) {
            l.kind = Kind::Success;
            l.bytes = "State=Success";
            if (rng() % 3 == 0) {
                l.bytes.insert(6 + rng() % 7, 1, '\0'); // a zero byte inside changes nothing
            }
        } else if (pick < 86) {
            l.kind = Kind::Fail;
            l.bytes = "State=Fail";
        } else if (pick < 92) {
            l.kind = Kind::Error;
            l.errorText = "disk " + std::to_string(rng() % 1000);
            l.bytes = "Error=" + l.errorText;
        } else {
            static const char* spoiled[] = {"State=success", "State=Success ", "State=", " State=Fail", "Stat"};
            l.kind = Kind::Spoiled;
            l.bytes = spoiled[rng() % 5];
        }
        unsigned e = rng() % 10;
        l.end = e < 4 ? End::CrLf : (e < 8 ? End::Lf : End::Pause);
        s.lines.push_back(std::move(l));
    }
    if (rng() % 4 == 0) {
        s.lines.back().end = End::None;
    }
    return s;
}

std::string WithoutZeros(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (c != '\0') {
            out += c;
        }
    }
    return out;
}

// The text a line gives after framing: zeros dropped, at most kMaxLineBytes, decoded, one final CR removed.
std::wstring Framed(const std::string& lineBytes, int codePage) {
    std::string bytes = WithoutZeros(lineBytes).substr(0, kMaxLineBytes);
    std::wstring text = Utils::MultiByteToWide(bytes, static_cast<unsigned>(codePage));
    if (!text.empty() && text.back() == L'\r') {
        text.pop_back();
    }
    return text;
}

struct Expected {
    std::optional<Event> event;
    int result = kResultNone;
};

// What a whole generated line means to a job, from its kind alone; updates the code page.
Expected Meaning(const GenLine& l, bool package, int& codePage) {
    Expected x;
    std::string withEnd = l.bytes + (l.end == End::CrLf ? "\r" : "");
    switch (l.kind) {
    case Kind::Progress:
        x.event = Event{package ? int{IST_CODE_PROGRESS} : int{UNI_CODE_PROGRESS}, l.number, L""};
        break;
    case Kind::Message:
        if (package) {
            x.event = Event{IST_CODE_MESSAGE, 0.0, Framed(withEnd, codePage).substr(kKeyLen, kMaxValueLength)};
        }
        break;
    case Kind::Encode:
        if (!package) {
            codePage = l.encode == "UTF8" ? 65001 : 0;
        } else if (l.encode == "UTF8" || l.encode == "65001") {
            codePage = 65001;
        } else if (l.encode == "936") {
            codePage = 936;
        } else if (l.encode == "ACP" || l.encode == "junk") {
            codePage = 0;
        } // 99999: unknown to Windows, ignored
        break;
    case Kind::Success:
        x.event = Event{package ? int{IST_CODE_SUCCESS} : int{UNI_CODE_SUCCESS}, 0.0, L""};
        x.result = kResultSuccess;
        break;
    case Kind::Fail:
        x.event = package ? Event{IST_CODE_FAIL, 0.0, L"安装包安装失败"} : Event{UNI_CODE_FAIL, 0.0, L"安装包卸载失败"};
        x.result = kResultFailure;
        break;
    case Kind::Error:
        x.event = Event{package ? int{IST_CODE_FAIL} : int{UNI_CODE_FAIL}, package ? 1000.0 : 0.0,
                        std::wstring(l.errorText.begin(), l.errorText.end())};
        x.result = kResultFailure;
        break;
    case Kind::Unknown:
    case Kind::Spoiled:
        break;
    }
    return x;
}

// A prefix of a line, as the deciding read left it: judged by the job's own line parser.
Expected PrefixMeaning(const std::string& bytes, bool package, int codePage) {
    std::wstring text = Framed(bytes, codePage);
    LineOutcome o = package ? ParsePackageLine(text) : ParseUninstallerLine(text);
    Expected x;
    if (o.report) {
        x.event = Event{o.report->code, o.report->value, o.report->message};
    }
    x.result = o.result;
    return x;
}

// One unit of work for the reader: a read, or a pause in the output (the held line is parsed).
struct Unit {
    bool pause;
    size_t begin, end; // bytes of a read
};

struct Plan {
    std::string all;
    std::vector<Unit> units;
    std::vector<size_t> lineEnd; // per line: offset just past its line end (pause and none: past its bytes)
    std::vector<size_t> lineBegin;
};

Plan Cut(const Stream& s, std::mt19937& rng) {
    Plan p;
    std::vector<size_t> pauses;
    for (const GenLine& l : s.lines) {
        p.lineBegin.push_back(p.all.size());
        p.all += l.bytes;
        if (l.end == End::CrLf) {
            p.all += "\r\n";
        } else if (l.end == End::Lf) {
            p.all += "\n";
        }
        p.lineEnd.push_back(p.all.size());
        if (l.end == End::Pause) {
            pauses.push_back(p.all.size());
        }
    }
    size_t at = 0;
    size_t nextPause = 0;
    while (at < p.all.size() || nextPause < pauses.size()) {
        size_t limit = nextPause < pauses.size() ? pauses[nextPause] : p.all.size();
        if (at < limit) {
            size_t span = 1 + rng() % (rng() % 2 ? 16 : 3000);
            size_t end = std::min(limit, at + span);
            p.units.push_back({false, at, end});
            at = end;
        }
        if (at == limit && nextPause < pauses.size() && pauses[nextPause] == at) {
            p.units.push_back({true, at, at});
            ++nextPause;
        }
    }
    return p;
}

struct ModelResult {
    std::vector<Event> events;
    int result = kResultNone;
};

// The install job: the read (or pause, or end) that completes the first decisive line decides with its last
// decisive line, a failure line of it over a success line (whose event is left out); its other events come first, its
// unfinished tail is parsed too, and nothing after it counts. The removal job: the first decisive line decides; nothing
// after it counts.
ModelResult Model(const Stream& s, const Plan& p, bool package) {
    ModelResult m;
    int codePage = 0;
    size_t next = 0; // the next line not yet complete
    auto completesIn = [&](size_t i, const Unit& u) {
        const End end = s.lines[i].end;
        if (end == End::Pause) {
            return u.pause && p.lineEnd[i] == u.end;
        }
        if (end == End::None) {
            return false;
        }
        return !u.pause && p.lineEnd[i] > u.begin && p.lineEnd[i] <= u.end;
    };
    auto judge = [&](std::vector<Expected> unit) {
        if (!package) {
            for (const Expected& x : unit) {
                if (x.event) {
                    m.events.push_back(*x.event);
                }
                if (x.result != kResultNone) {
                    m.result = x.result;
                    return true;
                }
            }
            return false;
        }
        bool deciding = false;
        for (const Expected& x : unit) {
            if (x.result == kResultNone && x.event) {
                m.events.push_back(*x.event);
            }
            deciding = deciding || x.result != kResultNone;
        }
        bool failed = false;
        for (const Expected& x : unit) {
            failed = failed || x.result == kResultFailure;
        }
        for (const Expected& x : unit) {
            if (x.result != kResultNone && !(failed && x.result != kResultFailure)) {
                m.events.push_back(*x.event);
                m.result = x.result;
            }
        }
        return deciding;
    };
    for (const Unit& u : p.units) {
        std::vector<Expected> unit;
        while (next < s.lines.size() && completesIn(next, u)) {
            // A line whose bytes are all zeros holds nothing at a pause: no line.
            if (!(s.lines[next].end == End::Pause && WithoutZeros(s.lines[next].bytes).empty())) {
                unit.push_back(Meaning(s.lines[next], package, codePage));
            }
            ++next;
        }
        bool deciding = false;
        for (const Expected& x : unit) {
            deciding = deciding || x.result != kResultNone;
        }
        if (package && deciding && !u.pause && next < s.lines.size()) {
            if (p.lineBegin[next] < u.end) {
                std::string tail = WithoutZeros(p.all.substr(p.lineBegin[next], u.end - p.lineBegin[next]));
                if (!tail.empty()) {
                    unit.push_back(PrefixMeaning(tail, package, codePage));
                }
            }
        }
        if (judge(std::move(unit))) {
            return m;
        }
    }
    if (next < s.lines.size() && s.lines[next].end == End::None && !WithoutZeros(s.lines[next].bytes).empty()) {
        judge({Meaning(s.lines[next], package, codePage)});
    }
    return m;
}

template <class Job> ModelResult Feed(Job& job, const Plan& p, std::vector<Event>& events) {
    JobLines::Reader reader = job.MakeReader();
    for (const Unit& u : p.units) {
        if (u.pause) {
            reader.FlushTail();
        } else {
            reader.Feed(std::string_view(p.all).substr(u.begin, u.end - u.begin));
        }
    }
    reader.FlushTail();
    return ModelResult{events, reader.Decided()};
}

} // namespace

TEST(ConsoleProtocol, GeneratedStreamsCutAtRandomGiveTheModelsOutcomeAndEvents) {
    unsigned seed = 20261208;
    if (const char* given = std::getenv("TUNIVOX_PROPERTY_SEED")) {
        seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    }
    const int kStreams = 10000;
    std::mt19937 rng(seed);
    int decidedCount[2] = {0, 0};
    size_t lines = 0, reads = 0, failures = 0;
    for (int i = 0; i < kStreams && failures < 5; ++i) {
        Stream s = Generate(rng);
        Plan p = Cut(s, rng);
        lines += s.lines.size();
        reads += p.units.size();
        for (bool package : {true, false}) {
            std::vector<Event> events;
            DownloadCallback record = [&](int code, double value, const wchar_t* message) {
                events.push_back(Event{code, value, message != nullptr ? message : L""});
            };
            ModelResult got;
            if (package) {
                CPackageInstaller job(record, L"C:\\p.exe", L"C:\\d", true, true);
                got = Feed(job, p, events);
            } else {
                CUnInstaller job(record, L"C:\\u.exe", L"C:\\d");
                got = Feed(job, p, events);
            }
            ModelResult want = Model(s, p, package);
            decidedCount[package ? 0 : 1] += want.result != kResultNone ? 1 : 0;
            if (got.result != want.result || got.events != want.events) {
                ++failures;
                ADD_FAILURE() << (package ? "install" : "removal") << " job, stream " << i << " of seed " << seed
                              << ": result " << got.result << " want " << want.result << "\n events "
                              << testing::PrintToString(got.events) << "\n want   "
                              << testing::PrintToString(want.events);
            }
        }
    }
    std::printf("seed %u: %d streams (%lu lines, %lu reads and pauses) through both jobs; decided: install %d, "
                "removal %d\n",
                seed, kStreams, static_cast<unsigned long>(lines), static_cast<unsigned long>(reads), decidedCount[0],
                decidedCount[1]);
}
