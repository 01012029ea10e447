// The check a downloaded package passes before the install job runs it: its Authenticode signature, the chain of
// its signer, the publisher, and the pins the configuration may add.
//
// Under Wine WinVerifyTrust accepts a signature from any publisher, trusted or not (it rejects only unsigned
// files and changed bytes), so the signer's chain is checked here as well, with the code-signing usage, and must
// come out without any error; that check is the same on Windows. Configuration can only narrow what is trusted:
// a ZKInstallerConfig.ini can be planted beside the installer, so no setting turns a check off.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "utils/Seam.h"
#include "utils/Status.h"

namespace Trust {

// What the package's signature says, read through the held file handle.
struct SignatureFacts {
    LONG verifyResult = -1;                     // WinVerifyTrust: 0 for an intact signature
    DWORD chainErrors = 0;                      // CertGetCertificateChain's error status for code signing,
                                                // revocation checked on every certificate but the root
    std::wstring signerName;                    // the signer's subject, simple display name
    std::wstring signerIssuerName;              // its issuer's, simple display name
    std::vector<uint8_t> signerSubject;         // the signer's encoded subject name
    std::vector<uint8_t> signerIssuer;          // the encoded name of the signer certificate's issuer
    std::vector<std::wstring> chainThumbprints; // SHA-256 of each certificate, signer first, upper-case hex
};

// Who signed the installer itself.
struct Publisher {
    enum class Kind { Unsigned, Signed, Unreadable };
    Kind kind = Kind::Unsigned;
    std::wstring name;
    std::vector<uint8_t> subject;
    std::vector<uint8_t> issuer; // a subject alone can be had from any CA: the same publisher has both
    std::wstring issuerName;
    std::wstring thumbprint; // SHA-256 of the signing certificate, upper-case hex
};

// The publisher a release build expects of its own signature (CMake TUNIVOX_PUBLISHER_SHA256, or
// TUNIVOX_PUBLISHER_SUBJECT with TUNIVOX_PUBLISHER_ISSUER); all empty in a development build.
struct ExpectedPublisher {
    std::wstring sha256;
    std::wstring subject;
    std::wstring issuer;
    [[nodiscard]] bool empty() const { return sha256.empty() && subject.empty() && issuer.empty(); }
};
// What this build was configured with.
ExpectedPublisher CompiledPublisher();
// The installer's own publisher as the package rules take it: what its signature says, unless a release build's
// signature is not the expected one (or missing); then Unreadable, which refuses every package. A development
// build (nothing expected) keeps what was read: unsigned lets any trusted publisher's package in.
Publisher CheckedOwnPublisher(const Publisher& read, const ExpectedPublisher& expected);

// True when the PE headers of a file (`file`, `size` bytes from its start) describe the image mapped at `image`:
// the same file header, entry point, image size, checksum, data directories (the signature's among them) and
// sections. The image base is left out: the loader rewrites it when it relocates the image.
bool SameImageHeaders(const uint8_t* file, size_t size, const uint8_t* image);

// The chain errors that do not refuse a signature: a revocation status nobody could tell (no revocation server,
// or none reachable), as for HTTPS. A certificate known to be revoked is refused.
constexpr DWORD kToleratedChainErrors = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// Narrowings from the configuration; every entry must hold.
struct Pins {
    std::vector<std::wstring> signers; // a subject simple name or the SHA-256 thumbprint of a chain certificate
    std::vector<std::wstring> sha256s; // the package file's SHA-256
};

// Succeeds when the package may run; otherwise says which check failed and why (for the debug log).
Utils::Status CheckSignatureFacts(const SignatureFacts& facts, const std::wstring& fileSha256,
                                  const Publisher& installer, const Pins& pins);

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
// The same through a handle to the file.
Publisher ReadPublisher(HANDLE file, const std::wstring& path);
// The publisher of this process's own executable, read once, at the first call (the entry point makes it early):
// through a handle to the file GetModuleFileNameW names, taken only when that file's headers are those of the
// running image (a running exe can be renamed and another file put in its place), then CheckedOwnPublisher.
const Publisher& InstallerPublisher();

// The whole check of the package behind `file`; succeeds when it may run.
Utils::Status VerifyPackage(HANDLE file, const std::wstring& path, const Publisher& installer, const Pins& pins);
// The check of the earlier installation's uninstaller copy: the package's rules with the signer pins only, since a
// SHA-256 pin names the package file and no uninstaller can have its digest.
Utils::Status VerifyUninstaller(HANDLE file, const std::wstring& path, const Publisher& installer, const Pins& pins);

// The checks the jobs make on the file they hold before they run it: by default VerifyPackage and
// VerifyUninstaller with this installer's publisher and the configuration's pins.
using FileCheckSeam = Utils::Seam<Utils::Status(HANDLE file, const std::wstring& path)>;
FileCheckSeam& PackageCheck();
FileCheckSeam& UninstallerCheck();
Utils::Status VerifyPackageAsConfigured(HANDLE file, const std::wstring& path);

} // namespace Trust
