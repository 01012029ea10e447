#include "install/PackageVerifier.h"

#include <softpub.h>

#include <cwctype>

#include "utils/DebugLog.h"
#include "utils/ScopedWin.h"

namespace Trust {

namespace {

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    Utils::FormatBounded(text, 16, L"0x%08lX", value);
    return text;
}

bool MatchesSigner(const std::wstring& pin, const SignatureFacts& facts) {
    if (!pin.empty() && ::CompareStringOrdinal(pin.c_str(), -1, facts.signerName.c_str(), -1, TRUE) == CSTR_EQUAL) {
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

std::wstring Rejection(const SignatureFacts& facts, const std::wstring& fileSha256, const Publisher& installer,
                       const Pins& pins) {
    if (facts.verifyResult != 0) {
        return L"signature: WinVerifyTrust gave " + Hex(static_cast<DWORD>(facts.verifyResult));
    }
    if (facts.chainErrors != 0) {
        return L"signer chain of \"" + facts.signerName + L"\": error status " + Hex(facts.chainErrors);
    }
    if (installer.kind == Publisher::Kind::Unreadable) {
        return L"publisher: the installer's own signature cannot be read";
    }
    if (installer.kind == Publisher::Kind::Signed && facts.signerSubject != installer.subject) {
        return L"publisher: package signed by \"" + facts.signerName + L"\", the installer by \"" + installer.name +
               L"\"";
    }
    for (const std::wstring& pin : pins.signers) {
        if (!MatchesSigner(pin, facts)) {
            return L"PackageSigner: \"" + facts.signerName + L"\" is not \"" + pin + L"\"";
        }
    }
    for (const std::wstring& pin : pins.sha256s) {
        if (fileSha256.empty() || NormalizedHex(pin) != fileSha256) {
            return L"PackageSha256: the file's is " + (fileSha256.empty() ? L"unknown" : fileSha256);
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
    const CERT_NAME_BLOB& subject = cert->pCertInfo->Subject;
    facts.signerSubject.assign(subject.pbData, subject.pbData + subject.cbData);

    // The signer's own chain, built from the certificates the signature carries and the machine's trusted roots,
    // for the code-signing usage: anything but a clean result refuses the package.
    Utils::UniqueCertChain chain;
    if (!Utils::GetCertificateChain(cert, szOID_PKIX_KP_CODE_SIGNING, 0, chain)) {
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

Publisher ReadPublisher(const std::wstring& path) {
    Publisher publisher;
    Utils::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    SignatureFacts facts;
    if (!file) {
        publisher.kind = Publisher::Kind::Unreadable;
    } else if (ReadSignature(file.get(), path, facts)) {
        publisher.kind = Publisher::Kind::Signed;
        publisher.name = facts.signerName;
        publisher.subject = facts.signerSubject;
    } else if (facts.verifyResult == static_cast<LONG>(TRUST_E_NOSIGNATURE)) {
        publisher.kind = Publisher::Kind::Unsigned;
    } else {
        // A damaged signature is not the same as none: the same-publisher rule cannot be met, never skipped.
        publisher.kind = Publisher::Kind::Unreadable;
    }
    return publisher;
}

const Publisher& InstallerPublisher() {
    static const Publisher publisher = [] {
        wchar_t path[MAX_PATH] = {};
        DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        Publisher p;
        if (n == 0 || n >= MAX_PATH) {
            p.kind = Publisher::Kind::Unreadable;
            return p;
        }
        p = ReadPublisher(path);
        DEBUG_LOG(L"installer publisher: %s (%d)", p.name.c_str(), static_cast<int>(p.kind));
        return p;
    }();
    return publisher;
}

std::wstring VerifyPackage(HANDLE file, const std::wstring& path, const Publisher& installer, const Pins& pins) {
    SignatureFacts facts;
    ReadSignature(file, path, facts);
    std::wstring sha256 = pins.sha256s.empty() ? std::wstring() : FileSha256(file);
    return Rejection(facts, sha256, installer, pins);
}

} // namespace Trust
