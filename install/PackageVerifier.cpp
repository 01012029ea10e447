#include "install/PackageVerifier.h"

#include <softpub.h>

#include <cstddef>
#include <cstring>
#include <cwctype>

#include "config/InstallerConfig.h"
#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace Trust {

namespace {

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    Utils::FormatBounded(text, 16, L"0x%08lX", value);
    return text;
}

// CompareStringOrdinal ignoring case (Vista and later: looked up, so that the import table holds nothing Windows XP
// lacks; without it no name matches, and a pin by name refuses).
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    using CompareFn = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);
    static const auto compare = reinterpret_cast<CompareFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CompareStringOrdinal")));
    return compare != nullptr && compare(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool MatchesSigner(const std::wstring& pin, const SignatureFacts& facts) {
    if (!pin.empty() && SameNameIgnoringCase(pin, facts.signerName)) {
        return true;
    }
    std::wstring hex = NormalizedHex(pin);
    if (hex.size() != 64) {
        return false;
    }
    for (const std::wstring& thumbprint : facts.chainThumbprints) {
        if (thumbprint == hex) {
            return true;
        }
    }
    return false;
}

} // namespace

std::wstring NormalizedHex(const std::wstring& text) {
    std::wstring hex;
    for (wchar_t c : text) {
        if (c == L' ' || c == L':') {
            continue;
        }
        hex += static_cast<wchar_t>(std::towupper(c));
    }
    return hex;
}

Utils::Status CheckSignatureFacts(const SignatureFacts& facts, const std::wstring& fileSha256,
                                  const Publisher& installer, const Pins& pins) {
    if (facts.verifyResult != 0) {
        return Utils::Status::Failed(L"signature: WinVerifyTrust gave " + Hex(static_cast<DWORD>(facts.verifyResult)));
    }
    if ((facts.chainErrors & ~kToleratedChainErrors) != 0) {
        return Utils::Status::Failed(L"signer chain of \"" + facts.signerName + L"\": error status " +
                                     Hex(facts.chainErrors));
    }
    if (installer.kind == Publisher::Kind::Unreadable) {
        return Utils::Status::Failed(L"publisher: the installer's own signature cannot be read");
    }
    if (installer.kind == Publisher::Kind::Signed &&
        (facts.signerSubject != installer.subject || facts.signerIssuer != installer.issuer)) {
        return Utils::Status::Failed(L"publisher: package signed by \"" + facts.signerName +
                                     L"\", the installer by \"" + installer.name + L"\"");
    }
    for (const std::wstring& pin : pins.signers) {
        if (!MatchesSigner(pin, facts)) {
            return Utils::Status::Failed(L"PackageSigner: \"" + facts.signerName + L"\" is not \"" + pin + L"\"");
        }
    }
    for (const std::wstring& pin : pins.sha256s) {
        if (fileSha256.empty() || NormalizedHex(pin) != fileSha256) {
            return Utils::Status::Failed(L"PackageSha256: the file's is " +
                                         (fileSha256.empty() ? L"unknown" : fileSha256));
        }
    }
    return {};
}

namespace {

// SHA-256 through BCrypt; Finish gives upper-case hexadecimal, or nothing after any failure.
class Sha256 {
public:
    Sha256() {
        ok_ = ::BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
              ::BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0) == 0;
    }
    void Add(const BYTE* data, ULONG size) {
        ok_ = ok_ && ::BCryptHashData(hash_.get(), const_cast<PUCHAR>(data), size, 0) == 0;
    }
    std::wstring Finish() {
        UCHAR digest[32];
        if (!ok_ || ::BCryptFinishHash(hash_.get(), digest, sizeof(digest), 0) != 0) {
            return {};
        }
        std::wstring hex;
        for (UCHAR b : digest) {
            wchar_t two[3];
            Utils::FormatBounded(two, 3, L"%02X", b);
            hex += two;
        }
        return hex;
    }

private:
    Utils::UniqueBCryptAlgorithm algorithm_;
    Utils::UniqueBCryptHash hash_;
    bool ok_ = false;
};

} // namespace

bool ReadSignature(HANDLE file, const std::wstring& path, SignatureFacts& facts) {
    facts = SignatureFacts{};
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    Utils::WinTrustState state(action, data);
    facts.verifyResult = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (facts.verifyResult != 0) {
        return false;
    }
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain[0].pCert == nullptr) {
        facts.verifyResult = static_cast<LONG>(TRUST_E_NOSIGNATURE);
        return false;
    }
    PCCERT_CONTEXT cert = signer->pasCertChain[0].pCert;
    wchar_t name[256] = {};
    ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
    facts.signerName = name;
    wchar_t issuerName[256] = {};
    ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, issuerName, 256);
    facts.signerIssuerName = issuerName;
    const CERT_NAME_BLOB& subject = cert->pCertInfo->Subject;
    facts.signerSubject.assign(subject.pbData, subject.pbData + subject.cbData);
    const CERT_NAME_BLOB& issuer = cert->pCertInfo->Issuer;
    facts.signerIssuer.assign(issuer.pbData, issuer.pbData + issuer.cbData);

    // The signer's own chain, built from the certificates the signature carries and the machine's trusted roots,
    // for the code-signing usage, with revocation checked on every certificate but the root: anything but a clean
    // result, or one whose only doubt is a revocation status nobody could tell, refuses the package.
    Utils::UniqueCertChain chain;
    if (!Utils::GetCertificateChain(cert, szOID_PKIX_KP_CODE_SIGNING, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT,
                                    chain)) {
        facts.chainErrors = CERT_TRUST_IS_PARTIAL_CHAIN;
        return true;
    }
    facts.chainErrors = chain.get()->TrustStatus.dwErrorStatus;
    if (chain.get()->cChain > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[0];
        for (DWORD i = 0; i < simple->cElement; ++i) {
            PCCERT_CONTEXT element = simple->rgpElement[i]->pCertContext;
            Sha256 thumbprint;
            thumbprint.Add(element->pbCertEncoded, element->cbCertEncoded);
            facts.chainThumbprints.push_back(thumbprint.Finish());
        }
    }
    return true;
}

std::wstring FileSha256(HANDLE file) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return {};
    }
    Sha256 hash;
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return {};
        }
        if (got == 0) {
            return hash.Finish();
        }
        hash.Add(buffer.data(), got);
    }
}

Publisher ReadPublisher(HANDLE file, const std::wstring& path) {
    Publisher publisher;
    SignatureFacts facts;
    if (ReadSignature(file, path, facts)) {
        publisher.kind = Publisher::Kind::Signed;
        publisher.name = facts.signerName;
        publisher.subject = facts.signerSubject;
        publisher.issuer = facts.signerIssuer;
        publisher.issuerName = facts.signerIssuerName;
        publisher.thumbprint = facts.chainThumbprints.empty() ? std::wstring() : facts.chainThumbprints[0];
    } else if (facts.verifyResult == static_cast<LONG>(TRUST_E_NOSIGNATURE)) {
        publisher.kind = Publisher::Kind::Unsigned;
    } else {
        // A damaged signature is not the same as none: the same-publisher rule cannot be met, never skipped.
        publisher.kind = Publisher::Kind::Unreadable;
    }
    return publisher;
}

Publisher ReadPublisher(const std::wstring& path) {
    Utils::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        Publisher publisher;
        publisher.kind = Publisher::Kind::Unreadable;
        return publisher;
    }
    return ReadPublisher(file.get(), path);
}

ExpectedPublisher CompiledPublisher() {
    ExpectedPublisher expected;
#ifdef TUNIVOX_PUBLISHER_SHA256
    expected.sha256 = NormalizedHex(TUNIVOX_PUBLISHER_SHA256);
#endif
#ifdef TUNIVOX_PUBLISHER_SUBJECT
    expected.subject = TUNIVOX_PUBLISHER_SUBJECT;
#endif
#ifdef TUNIVOX_PUBLISHER_ISSUER
    expected.issuer = TUNIVOX_PUBLISHER_ISSUER;
#endif
    return expected;
}

Publisher CheckedOwnPublisher(const Publisher& read, const ExpectedPublisher& expected) {
    if (expected.empty() || read.kind != Publisher::Kind::Signed) {
        Publisher checked = read;
        if (!expected.empty()) {
            checked.kind = Publisher::Kind::Unreadable; // a release build that is not signed at all
        }
        return checked;
    }
    bool matches = true;
    if (!expected.sha256.empty()) {
        matches = NormalizedHex(expected.sha256) == read.thumbprint;
    }
    if (!expected.subject.empty() || !expected.issuer.empty()) {
        // Both must be given and both must match: a subject alone can be had from any CA.
        matches = matches && !expected.subject.empty() && !expected.issuer.empty() &&
                  SameNameIgnoringCase(expected.subject, read.name) &&
                  SameNameIgnoringCase(expected.issuer, read.issuerName);
    }
    Publisher checked = read;
    if (!matches) {
        checked.kind = Publisher::Kind::Unreadable;
    }
    return checked;
}

bool SameImageHeaders(const uint8_t* file, size_t size, const uint8_t* image) {
    if (size < sizeof(IMAGE_DOS_HEADER)) {
        return false;
    }
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, file, sizeof(dos));
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS) > size) {
        return false;
    }
    IMAGE_NT_HEADERS onDisk;
    IMAGE_NT_HEADERS mapped;
    std::memcpy(&onDisk, file + dos.e_lfanew, sizeof(onDisk));
    std::memcpy(&mapped, image + dos.e_lfanew, sizeof(mapped));
    if (onDisk.Signature != IMAGE_NT_SIGNATURE ||
        std::memcmp(&onDisk.FileHeader, &mapped.FileHeader, sizeof(onDisk.FileHeader)) != 0) {
        return false;
    }
    const IMAGE_OPTIONAL_HEADER& a = onDisk.OptionalHeader;
    const IMAGE_OPTIONAL_HEADER& b = mapped.OptionalHeader;
    if (a.AddressOfEntryPoint != b.AddressOfEntryPoint || a.SizeOfImage != b.SizeOfImage || a.CheckSum != b.CheckSum ||
        std::memcmp(a.DataDirectory, b.DataDirectory, sizeof(a.DataDirectory)) != 0) {
        return false;
    }
    const size_t sections = static_cast<size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                            onDisk.FileHeader.SizeOfOptionalHeader;
    const size_t sectionBytes = onDisk.FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER);
    return sections + sectionBytes <= size && std::memcmp(file + sections, image + sections, sectionBytes) == 0;
}

const Publisher& InstallerPublisher() {
    static const Publisher publisher = [] {
        Publisher read;
        read.kind = Publisher::Kind::Unreadable;
        wchar_t path[MAX_PATH] = {};
        DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        Utils::UniqueFileHandle file;
        if (n != 0 && n < MAX_PATH) {
            file.reset(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        }
        uint8_t headers[4096] = {};
        DWORD got = 0;
        if (!file || !::ReadFile(file.get(), headers, sizeof(headers), &got, nullptr)) {
            DEBUG_LOG(L"installer's own file not opened");
        } else if (!SameImageHeaders(headers, got, reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr)))) {
            DEBUG_LOG(L"installer's own file %s is not the running image", path);
        } else {
            LARGE_INTEGER start{};
            ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
            read = ReadPublisher(file.get(), path);
        }
        Publisher p = CheckedOwnPublisher(read, CompiledPublisher());
        DEBUG_LOG(L"installer publisher: %s / %s (%d)%s", p.name.c_str(), p.issuerName.c_str(),
                  static_cast<int>(p.kind), CompiledPublisher().empty() ? L"" : L", release build");
        return p;
    }();
    return publisher;
}

Utils::Status VerifyPackage(HANDLE file, const std::wstring& path, const Publisher& installer, const Pins& pins) {
    SignatureFacts facts;
    ReadSignature(file, path, facts);
    std::wstring sha256 = pins.sha256s.empty() ? std::wstring() : FileSha256(file);
    return CheckSignatureFacts(facts, sha256, installer, pins);
}

Utils::Status VerifyPackageAsConfigured(HANDLE file, const std::wstring& path) {
    return VerifyPackage(file, path, InstallerPublisher(),
                         Pins{g_installerConfig.PackageSigners, g_installerConfig.PackageSha256s});
}

FileCheckSeam& PackageCheck() {
    static FileCheckSeam seam(&VerifyPackageAsConfigured);
    return seam;
}

FileCheckSeam& UninstallerCheck() {
    static FileCheckSeam seam([](HANDLE file, const std::wstring& path) {
        return VerifyUninstaller(file, path, InstallerPublisher(), Pins{g_installerConfig.PackageSigners, {}});
    });
    return seam;
}

Utils::Status VerifyUninstaller(HANDLE file, const std::wstring& path, const Publisher& installer, const Pins& pins) {
    return VerifyPackage(file, path, installer, Pins{pins.signers, {}});
}

} // namespace Trust
