#include "download/ServerCertificate.h"

#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include "download/CurlOptions.h"
#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

std::string UrlHost(const std::string& url) {
    size_t scheme = url.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    size_t start = scheme + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority = authority.substr(at + 1);
    }
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        return close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

namespace {

std::wstring ChainReason(DWORD errors) {
    const wchar_t* what = L"not trusted";
    if (errors & CERT_TRUST_IS_REVOKED) {
        what = L"revoked";
    } else if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
        what = L"expired or not yet valid";
    } else if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        what = L"issued by an untrusted authority";
    } else if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
        what = L"not for server authentication";
    }
    wchar_t text[160];
    Utils::FormatBounded(text, 160, L"server certificate %s (chain status 0x%08lX)", what, errors);
    return text;
}

} // namespace

namespace {

constexpr DWORD kToleratedChainErrors = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

bool IsUnknownRevocation(DWORD policyError) {
    return policyError == static_cast<DWORD>(CERT_E_REVOCATION_FAILURE) ||
           policyError == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE) ||
           policyError == static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK);
}

std::wstring PolicyRefusal(const wchar_t* what, DWORD error) {
    wchar_t text[96];
    Utils::FormatBounded(text, 96, L"server certificate %s (0x%08lX)", what, error);
    return text;
}

// The SSL policy's answer for `host` on `chain`; `checks` are SECURITY_FLAG_IGNORE_* bits, `flags` the policy's own.
DWORD SslPolicyError(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host, DWORD checks, DWORD flags) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
    extra.cbSize = sizeof(extra);
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.fdwChecks = checks;
    extra.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    policy.dwFlags = flags;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
        DWORD error = ::GetLastError();
        return error != 0 ? error : static_cast<DWORD>(E_FAIL);
    }
    return status.dwError;
}

// SECURITY_FLAG_IGNORE_* of wininet.h: what the name-only question sets aside.
constexpr DWORD kIgnoreRevocation = 0x00000080;
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreWrongUsage = 0x00000200;
constexpr DWORD kIgnoreDateInvalid = 0x00002000;

} // namespace

std::wstring ServerCertificateVerdict(const ServerCertificateFacts& facts, const std::wstring& host) {
    DWORD chainErrors = facts.chainErrors & ~kToleratedChainErrors;
    if (chainErrors != 0) {
        return ChainReason(chainErrors);
    }
    if (facts.nameError == static_cast<DWORD>(CERT_E_CN_NO_MATCH) ||
        facts.policyError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
        return L"server certificate not issued for " + host;
    }
    if (facts.nameError != 0) {
        return PolicyRefusal(L"name not checked", facts.nameError);
    }
    if (facts.policyError != 0 && !IsUnknownRevocation(facts.policyError)) {
        return PolicyRefusal(L"refused", facts.policyError);
    }
    return {};
}

std::wstring CheckServerCertificate(PCCERT_CONTEXT cert, const std::wstring& host) {
    if (cert == nullptr) {
        return L"server certificate missing";
    }
    Utils::UniqueCertChain chain;
    if (!Utils::GetCertificateChain(cert, szOID_PKIX_KP_SERVER_AUTH, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT,
                                    chain)) {
        DWORD error = ::GetLastError();
        return L"server certificate chain not built: " + Utils::Decimal(error);
    }
    // The policy runs on a chain built without revocation checking: on one with an unknown revocation status it
    // reports that status before a wrong name, in spite of the flags that say to ignore it. The name is also asked
    // about alone, so that no other answer of the policy can stand in for it.
    Utils::UniqueCertChain plain;
    if (!Utils::GetCertificateChain(cert, szOID_PKIX_KP_SERVER_AUTH, 0, plain)) {
        DWORD error = ::GetLastError();
        return L"server certificate chain not built: " + Utils::Decimal(error);
    }
    ServerCertificateFacts facts;
    facts.chainErrors = chain.get()->TrustStatus.dwErrorStatus;
    facts.nameError = SslPolicyError(
        plain.get(), host, kIgnoreRevocation | kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreDateInvalid,
        CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS | CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG |
            CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS | CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG);
    facts.policyError = SslPolicyError(plain.get(), host, 0, CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS);
    return ServerCertificateVerdict(facts, host);
}

int CheckServerBeforeRequest(void* serverCheck, char*, char*, int, int) {
    auto* check = static_cast<ServerCheck*>(serverCheck);
    char* url = nullptr;
    if (::curl_easy_getinfo(check->handle, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || url == nullptr) {
        check->problem = L"no URL for the server check";
        return CURL_PREREQFUNC_ABORT;
    }
    std::string effective = url;
    if (effective.rfind("https://", 0) != 0 && effective.rfind("HTTPS://", 0) != 0) {
        return CURL_PREREQFUNC_OK; // plain HTTP and local files have no certificate to check
    }
    curl_tlssessioninfo* session = nullptr;
    if (::curl_easy_getinfo(check->handle, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || session == nullptr ||
        session->backend != CURLSSLBACKEND_SCHANNEL || session->internals == nullptr) {
        check->problem = L"no TLS session to check";
        return CURL_PREREQFUNC_ABORT;
    }
    Utils::UniqueCertContext remote;
    SECURITY_STATUS got = ::QueryContextAttributesW(static_cast<PCtxtHandle>(session->internals),
                                                    SECPKG_ATTR_REMOTE_CERT_CONTEXT, remote.put());
    if (got != SEC_E_OK) {
        wchar_t text[80];
        Utils::FormatBounded(text, 80, L"server certificate not available (0x%08lX)", static_cast<DWORD>(got));
        check->problem = text;
        return CURL_PREREQFUNC_ABORT;
    }
    check->problem = CheckServerCertificate(remote.get(), Utils::MultiByteToWide(UrlHost(effective), 65001));
    if (!check->problem.empty()) {
        DEBUG_LOG(L"%s", check->problem.c_str());
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

int EnableServerCheck(CURL* handle, ServerCheck& check) {
    check.handle = handle;
    check.problem.clear();
    CurlOptions options(handle);
    options.Set(CURLOPT_PREREQFUNCTION, &CheckServerBeforeRequest);
    options.Set(CURLOPT_PREREQDATA, &check);
    options.Set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    return options.First();
}
