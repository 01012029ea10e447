// When the downloaders leave a URL for the next one of the list (the download URL, then the mirrors). A pure rule.
#pragma once

#include <optional>
#include <string>

// What one failed attempt of the libcurl downloader met: its code (a CURLcode or an ERR_* code), the HTTP status
// of the answer that failed it (0: none), the retry budget left once this failure is paid for, and how many
// answers of this URL in a row were 403.
struct AttemptFailure {
    int code = 0;
    long httpStatus = 0;
    int budgetLeft = 0;
    int forbiddenInARow = 0;
};

// Why the URL is left for the next one after `failure`; nothing when it is tried again. A server that says the
// file is not there (404, 410), a refused server certificate and a 403 that the fresh request from the configured
// URL met again leave it at once; any other failure only once the budget is spent. A proxy's 407 and a 416 are
// not the server's word on the file: they only spend the budget.
std::optional<std::wstring> ReasonToLeave(const AttemptFailure& failure);
