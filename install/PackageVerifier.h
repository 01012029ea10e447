// The check a downloaded package passes before the install job runs it: its Authenticode signature, the chain of
// its signer, the publisher, and the pins the configuration may add.
//
// Under Wine WinVerifyTrust accepts a signature from any publisher, trusted or not (it rejects only unsigned
// files and changed bytes), so the signer's chain is checked here as well, with the code-signing usage, and must
// come out without any error; that check is the same on Windows. Configuration can only narrow what is trusted:
// a ZKInstallerConfig.ini can be planted beside the installer, so no setting turns a check off.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Trust {

// What the package's signature says, read through the held file handle.
struct SignatureFacts {
    LONG verifyResult = -1;                     // WinVerifyTrust: 0 for an intact signature
    DWORD chainErrors = 0;                      // CertGetCertificateChain's error status for code signing
    std::wstring signerName;                    // the signer's subject, simple display name
    std::vector<uint8_t> signerSubject;         // the signer's encoded subject name
    std::vector<std::wstring> chainThumbprints; // SHA-256 of each certificate, signer first, upper-case hex
};

// Who signed the installer itself.
struct Publisher {
    enum class Kind { Unsigned, Signed, Unreadable };
    Kind kind = Kind::Unsigned;
    std::wstring name;
    std::vector<uint8_t> subject;
};

// Narrowings from the configuration; every entry must hold.
struct Pins {
    std::vector<std::wstring> signers; // a subject simple name or the SHA-256 thumbprint of a chain certificate
    std::vector<std::wstring> sha256s; // the package file's SHA-256
};

// Empty when the package may run; otherwise which check failed and why (for the debug log).
std::wstring Rejection(const SignatureFacts& facts, const std::wstring& fileSha256, const Publisher& installer,
                       const Pins& pins);

// Upper-case hexadecimal without the blanks and colons that certificate viewers put between the bytes.
std::wstring NormalizedHex(const std::wstring& text);

// --- Thin layer over WinVerifyTrust, CertGetCertificateChain and BCrypt.

// Reads the signature facts of the file behind `file` (`path` names it for the providers). False when the
// signature could not be read at all; `facts.verifyResult` then says why.
bool ReadSignature(HANDLE file, const std::wstring& path, SignatureFacts& facts);
// SHA-256 of everything behind `file`, read from its start; empty on failure.
std::wstring FileSha256(HANDLE file);
// The publisher of the executable at `path`: unsigned only when it carries no signature at all.
Publisher ReadPublisher(const std::wstring& path);
// The publisher of this process's own executable, read once.
const Publisher& InstallerPublisher();

// The whole check of the package behind `file`; empty when it may run.
std::wstring VerifyPackage(HANDLE file, const std::wstring& path, const Publisher& installer, const Pins& pins);

} // namespace Trust
