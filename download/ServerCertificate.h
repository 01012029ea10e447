// Our own check of an HTTPS server's certificate, made for every connection the libcurl downloader opens.
//
// libcurl leaves the check to Schannel. On Windows Schannel checks the chain and the name; Wine's Schannel checks
// neither, so a man in the middle would go unnoticed there and no test could show a bad certificate refused.
// This check runs on both, before the request is sent: the chain must be trusted for server authentication and
// the certificate must be issued for the host of the URL. Revocation is best effort: a revocation server that
// cannot be reached (the usual case behind firewalls) is not a failure; a certificate known to be revoked is.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include <curl/curl.h>

// The host of an absolute URL ("https://user@host:443/x" gives "host", "https://[::1]/" gives "::1"); empty when
// there is none. Lower-case as written is kept: the policy check compares without regard to case.
std::string UrlHost(const std::string& url);

// What the checks of a server certificate found, for the verdict.
struct ServerCertificateFacts {
    DWORD chainErrors = 0; // the chain for server authentication, revocation checked on all but the root
    DWORD nameError = 0;   // the SSL policy asked about the host name alone (every other check ignored)
    DWORD policyError = 0; // the whole SSL policy with the host name
};

// The verdict on a server certificate: empty when it may be used, otherwise why not. Only a revocation status
// nobody could tell (no revocation server, or none reachable) is forgiven, in the chain and in the policy; the
// name must have been checked and found right, whatever else the policy says.
std::wstring ServerCertificateVerdict(const ServerCertificateFacts& facts, const std::wstring& host);

// Empty when `cert` chains to a trusted root for server authentication and is issued for `host`; otherwise the
// reason, for the log and the failed attempt's message.
std::wstring CheckServerCertificate(PCCERT_CONTEXT cert, const std::wstring& host);

// What a transfer's pre-request callback needs (CURLOPT_PREREQFUNCTION / CURLOPT_PREREQDATA): the easy handle and
// where the reason of a refusal goes.
struct ServerCheck {
    CURL* handle = nullptr;
    std::wstring problem;
};

// CURLOPT_PREREQFUNCTION: for an https URL, checks the certificate of the Schannel session and aborts the
// transfer before the request (CURLE_ABORTED_BY_CALLBACK) with the reason in the ServerCheck.
int CheckServerBeforeRequest(void* serverCheck, char* primaryIp, char* localIp, int primaryPort, int localPort);

// Sets the pre-request check and best-effort revocation on `handle`; returns the first option libcurl refused
// (0: none).
int EnableServerCheck(CURL* handle, ServerCheck& check);
