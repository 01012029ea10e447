#include "download/MirrorRules.h"

#include "download/CurlClient.h"

std::optional<std::wstring> ReasonToLeave(const AttemptFailure& failure) {
    if (failure.code == ERR_SERVER_CERTIFICATE) {
        return L"server certificate refused";
    }
    if (failure.httpStatus == 404 || failure.httpStatus == 410) {
        return L"HTTP " + std::to_wstring(failure.httpStatus) + L": no such file";
    }
    if (failure.httpStatus == 403 && failure.forbiddenInARow >= 2) {
        return L"HTTP 403, also from the configured URL";
    }
    if (failure.budgetLeft <= 0) {
        return L"retry budget spent (last code " + std::to_wstring(failure.code) + L")";
    }
    return std::nullopt;
}
