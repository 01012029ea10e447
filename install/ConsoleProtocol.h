// The line protocol that the package and the previous installation's uninstaller write to their standard output
// ("Key=value" lines), as pure functions: framing of the pipe's bytes into lines, key matching and value reading.
// Nothing here touches a pipe, a process or a code page; the jobs decode and report.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ConsoleProtocol {

// Result of a line or of one read's lines: nothing decisive, the success line, a failure or error line.
constexpr int kResultNone = 0;
constexpr int kResultSuccess = 1;
constexpr int kResultFailure = 1000;

// A "%[^\n]" value is read into a buffer of 772 characters: at most 771 characters of text.
constexpr size_t kMaxValueLength = 771;

// A line longer than this many bytes is cut: no value can use more (771 characters of at most 4 bytes after a
// key), and a package that chatters without line feeds cannot make the job hold its whole output.
constexpr size_t kMaxLineBytes = 4096;

struct Report {
    int code = 0;
    double value = 0.0;
    std::wstring message;
    bool operator==(const Report&) const = default;
};

struct LineOutcome {
    std::optional<Report> report;
    int result = kResultNone;
    // Set by an "Encode=" line: the code page asked for (not yet checked against what Windows knows).
    std::optional<long> codePage;
};

// Whether a line, as it stands, is a whole verdict that no further text could complete differently: exactly
// "State=Success" or "State=Fail" (both protocols). "Error=" text may go on; anything else decides nothing.
bool IsWholeVerdict(std::wstring_view line);

// The package's sixteen keys, tested in order; the first key the line begins with is used.
LineOutcome ParsePackageLine(std::wstring_view line);
// The uninstaller's four keys; every other line is ignored.
LineOutcome ParseUninstallerLine(std::wstring_view line);

// Value readers with the meaning of the wide scanf conversions the protocol was defined with.
// "%lf": leading blanks skipped, the longest number prefix; 0.0 when none can be read.
double ReadDouble(std::wstring_view value);
// "%d": leading blanks and a sign allowed; 0 when none can be read; a number beyond 32 bits keeps its low 32 bits.
int ReadInt(std::wstring_view value);
// "%[^\n]": the rest of the line, at most kMaxValueLength characters.
std::wstring ReadText(std::wstring_view value);
// The package's "Encode=" value: "UTF8" 65001, "ACP" 0, otherwise read as wcstol with base 10 does (0 without
// digits; clamped to the 32-bit range).
long ReadPackageCodePage(std::wstring_view value);

// Splits decoded text into lines at line feeds. One carriage return at the end of a line is removed (the package
// writes CRLF, and the carriage return is not part of the value). Text after the last line feed is a line too.
std::vector<std::wstring> SplitLines(std::wstring_view text);

// Frames the bytes of successive pipe reads into lines before anything is decoded. A read may end in the middle
// of a line or of a multi-byte character; the unfinished tail is kept and joined with the next read. Splitting
// at the line-feed byte is safe for the code pages in use: no trail byte of UTF-8 or of the double-byte ANSI
// code pages is 0x0A. A zero byte is dropped and nothing else: it ends no line and hides none of the bytes after
// it (decoding would stop at it).
class LineSplitter {
public:
    // Takes the bytes of one read and returns the lines this read completed, without their line feeds.
    std::vector<std::string> Feed(std::string_view bytes);
    // At the end of output: the unfinished tail as a last line, if any.
    std::optional<std::string> Finish();
    // Whether an unfinished line is held, and its bytes so far.
    [[nodiscard]] bool Holding() const { return !pending_.empty(); }
    [[nodiscard]] const std::string& Held() const { return pending_; }

private:
    void Append(std::string_view piece);
    std::string pending_;
};

} // namespace ConsoleProtocol
