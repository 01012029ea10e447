// Line handling shared by the install job and the removal job: both decode the framed lines of their child's
// output with the code page in force and report what each line says.
#pragma once

#include <string>
#include <vector>

#include "download/Downloader.h"
#include "install/ConsoleProtocol.h"
#include "utils/TextConv.h"

namespace JobLines {

// Decodes each line with `codePage` as it stands when the line is reached (an "Encode=" line applies from the next
// line on) and hands it to `parse`; returns the last decisive result.
template <class Parse>
int DecodeEach(const std::vector<std::string>& lines, const int& codePage, Parse parse) {
    int result = ConsoleProtocol::kResultNone;
    for (const std::string& line : lines) {
        int r = parse(Utils::MultiByteToWide(line, static_cast<unsigned>(codePage)));
        if (r != ConsoleProtocol::kResultNone) {
            result = r;
        }
    }
    return result;
}

// Reports a line's event, if it has one, and keeps its result when it is decisive.
inline void Deliver(const ConsoleProtocol::LineOutcome& outcome, const DownloadCallback& callback, int& result) {
    if (outcome.report) {
        callback(outcome.report->code, outcome.report->value, outcome.report->message.c_str());
    }
    if (outcome.result != ConsoleProtocol::kResultNone) {
        result = outcome.result;
    }
}

} // namespace JobLines
