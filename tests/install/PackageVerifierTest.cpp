// The package check: the rule over what the signature says (a table of facts), then the real check of signed,
// changed, unsigned and otherwise signed stand-ins through a held handle.
#include <gtest/gtest.h>

#include <windows.h>

#include <wintrust.h>

#include <softpub.h>

#include <cstddef>
#include <cstring>
#include <functional>

#include "install/PackageVerifier.h"
#include "tests/install/StandIn.h"
#include "tests/support/TestSupport.h"
#include "utils/ScopedWin.h"

using TestSupport::TempDir;
using Trust::Pins;
using Trust::Publisher;
using Trust::SignatureFacts;

namespace {

const std::wstring kCaThumbprint(64, L'C');

SignatureFacts GoodFacts() {
    SignatureFacts f;
    f.verifyResult = 0;
    f.chainErrors = 0;
    f.signerName = L"Tunivox Test Publisher";
    f.signerSubject = {1, 2, 3};
    f.signerIssuer = {5, 6};
    f.chainThumbprints = {std::wstring(64, L'A'), kCaThumbprint};
    return f;
}

Publisher SignedBy(std::vector<uint8_t> subject, std::vector<uint8_t> issuer = {5, 6}) {
    Publisher p;
    p.kind = Publisher::Kind::Signed;
    p.name = L"Whoever";
    p.subject = std::move(subject);
    p.issuer = std::move(issuer);
    return p;
}

// The first word of a rejection names the check; empty means the package may run.
std::wstring CheckOf(const Utils::Status& verdict) {
    return verdict.What().substr(0, verdict.What().find(L':'));
}

} // namespace

TEST(PackageVerifier, OnlyAnIntactTrustedSignatureOfTheRightPublisherPassesAndPinsOnlyNarrow) {
    const std::wstring sha(64, L'D');
    struct Case {
        const char* name;
        std::function<void(SignatureFacts&)> change;
        Publisher installer;
        Pins pins;
        const wchar_t* check;
    };
    Publisher unsignedInstaller;
    Publisher unreadable;
    unreadable.kind = Publisher::Kind::Unreadable;
    const Case cases[] = {
        {"development build: any trusted signature", nullptr, unsignedInstaller, {}, L""},
        {"changed bytes",
         [](SignatureFacts& f) { f.verifyResult = TRUST_E_BAD_DIGEST; },
         unsignedInstaller,
         {},
         L"signature"},
        {"unsigned",
         [](SignatureFacts& f) { f.verifyResult = TRUST_E_NOSIGNATURE; },
         unsignedInstaller,
         {},
         L"signature"},
        {"untrusted root (Wine's WinVerifyTrust passes it)",
         [](SignatureFacts& f) { f.chainErrors = 0x20; },
         unsignedInstaller,
         {},
         L"signer chain of \"Tunivox Test Publisher\""},
        {"not for code signing",
         [](SignatureFacts& f) { f.chainErrors = 0x10; },
         unsignedInstaller,
         {},
         L"signer chain of \"Tunivox Test Publisher\""},
        {"revocation status unknown, the revocation server offline",
         [](SignatureFacts& f) {
             f.chainErrors = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
         },
         unsignedInstaller,
         {},
         L""},
        {"a revoked certificate in the chain, revocation otherwise unknown",
         [](SignatureFacts& f) { f.chainErrors = CERT_TRUST_IS_REVOKED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN; },
         unsignedInstaller,
         {},
         L"signer chain of \"Tunivox Test Publisher\""},
        {"same publisher as the installer", nullptr, SignedBy({1, 2, 3}), {}, L""},
        {"the installer's subject from another issuer", nullptr, SignedBy({1, 2, 3}, {5, 7}), {}, L"publisher"},
        {"another publisher than the installer", nullptr, SignedBy({1, 2, 4}), {}, L"publisher"},
        {"installer's own signature unreadable", nullptr, unreadable, {}, L"publisher"},
        {"pin by name, any letter case", nullptr, unsignedInstaller, {{L"tunivox TEST publisher"}, {}}, L""},
        {"pin by a chain thumbprint as viewers write it",
         nullptr,
         unsignedInstaller,
         {{L"cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc:cc"}, {}},
         L""},
        {"pin naming someone else", nullptr, unsignedInstaller, {{L"Someone Else"}, {}}, L"PackageSigner"},
        {"a thumbprint outside the chain",
         nullptr,
         unsignedInstaller,
         {{std::wstring(64, L'E')}, {}},
         L"PackageSigner"},
        {"every pin must hold (ini and command line)",
         nullptr,
         unsignedInstaller,
         {{L"Tunivox Test Publisher", L"Someone Else"}, {}},
         L"PackageSigner"},
        {"a pin never replaces the publisher rule",
         nullptr,
         SignedBy({9}),
         {{L"Tunivox Test Publisher"}, {}},
         L"publisher"},
        {"file digest pinned", nullptr, unsignedInstaller, {{}, {std::wstring(64, L'd')}}, L""},
        {"file digest differs", nullptr, unsignedInstaller, {{}, {std::wstring(64, L'0')}}, L"PackageSha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SignatureFacts facts = GoodFacts();
        if (c.change) {
            c.change(facts);
        }
        EXPECT_EQ(CheckOf(Trust::CheckSignatureFacts(facts, sha, c.installer, c.pins)), c.check);
    }
}

TEST(PackageVerifier, RealSignaturesThroughTheHeldHandle) {
    TempDir dir(L"verify");
    std::wstring changed = dir / L"changed.exe";
    ASSERT_TRUE(StandIn::CopyTo(changed));
    {
        // One byte of the code, well past the headers, the signature does not cover otherwise.
        Utils::UniqueFileHandle f(
            ::CreateFileW(changed.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(f);
        ASSERT_NE(::SetFilePointer(f.get(), 0x800, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
        BYTE b = 0;
        DWORD n = 0;
        ASSERT_TRUE(::ReadFile(f.get(), &b, 1, &n, nullptr) && n == 1);
        b ^= 0x5A;
        ASSERT_NE(::SetFilePointer(f.get(), 0x800, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
        ASSERT_TRUE(::WriteFile(f.get(), &b, 1, &n, nullptr) && n == 1);
    }
    const Publisher test = Trust::ReadPublisher(StandIn::Exe());
    ASSERT_EQ(test.kind, Publisher::Kind::Signed);
    EXPECT_EQ(test.name, L"Tunivox Test Publisher");
    EXPECT_EQ(Trust::ReadPublisher(StandIn::Variant(L"unsigned")).kind, Publisher::Kind::Unsigned);
    const Publisher none;

    struct Case {
        std::wstring file;
        Publisher installer;
        Pins pins;
        const wchar_t* check;
    };
    const Case cases[] = {
        {StandIn::Exe(), none, {}, L""},
        {StandIn::Exe(), test, {}, L""},
        {changed, none, {}, L"signature"},
        {StandIn::Variant(L"unsigned"), none, {}, L"signature"},
        {StandIn::Variant(L"rogue"), none, {}, L"signer chain of \"Tunivox Test Publisher\""},
        {StandIn::Variant(L"other"), none, {}, L""},
        {StandIn::Variant(L"other"), test, {}, L"publisher"},
        {StandIn::Exe(), none, {{L"Other Test Publisher"}, {}}, L"PackageSigner"},
        {StandIn::Exe(), none, {{L"Tunivox Test Publisher"}, {}}, L""},
        {StandIn::Exe(), none, {{}, {std::wstring(64, L'0')}}, L"PackageSha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::Utf8(c.file + L" pins " + std::to_wstring(c.pins.signers.size())));
        Utils::UniqueFileHandle held(
            ::CreateFileW(c.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const Utils::Status verdict = Trust::VerifyPackage(held.get(), c.file, c.installer, c.pins);
        EXPECT_EQ(CheckOf(verdict), c.check) << TestSupport::Utf8(verdict.What());
    }

    // The file's own digest, read through the handle, pins it; and a known digest comes out right.
    Utils::UniqueFileHandle held(
        ::CreateFileW(StandIn::Exe().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::wstring own = Trust::FileSha256(held.get());
    ASSERT_EQ(own.size(), 64u);
    EXPECT_TRUE(Trust::VerifyPackage(held.get(), StandIn::Exe(), none, {{}, {own}}));
    std::wstring abc = dir / L"abc";
    ASSERT_TRUE(TestSupport::WriteBytes(abc, "abc"));
    Utils::UniqueFileHandle abcFile(
        ::CreateFileW(abc.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(Trust::FileSha256(abcFile.get()), L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

// A release build takes its own signature only when it is the publisher compiled in; a development build takes
// whatever it has.
TEST(PackageVerifier, ReleaseBuildKnowsItsOwnPublisher) {
    Publisher signedOne = SignedBy({1, 2, 3});
    signedOne.name = L"Tunivox Test Publisher";
    signedOne.issuerName = L"Tunivox Test CA";
    signedOne.thumbprint = std::wstring(64, L'A');
    Publisher unsignedOne;
    struct Case {
        const char* name;
        Publisher read;
        Trust::ExpectedPublisher expected;
        Publisher::Kind kind;
    } cases[] = {
        {"development build, signed", signedOne, {}, Publisher::Kind::Signed},
        {"development build, unsigned", unsignedOne, {}, Publisher::Kind::Unsigned},
        {"the expected certificate", signedOne, {L"aa:" + std::wstring(62, L'a'), L"", L""}, Publisher::Kind::Signed},
        {"another certificate", signedOne, {std::wstring(64, L'B'), L"", L""}, Publisher::Kind::Unreadable},
        {"release build, unsigned", unsignedOne, {std::wstring(64, L'A'), L"", L""}, Publisher::Kind::Unreadable},
        {"subject and issuer, any letter case",
         signedOne,
         {L"", L"tunivox test publisher", L"TUNIVOX TEST CA"},
         Publisher::Kind::Signed},
        {"the subject from another issuer",
         signedOne,
         {L"", L"Tunivox Test Publisher", L"Some Other CA"},
         Publisher::Kind::Unreadable},
        {"a subject without an issuer", signedOne, {L"", L"Tunivox Test Publisher", L""}, Publisher::Kind::Unreadable},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Trust::CheckedOwnPublisher(c.read, c.expected).kind, c.kind) << c.name;
    }
}

// The installer reads its own signature through a handle only when the file behind it is the running image.
TEST(PackageVerifier, OwnFileIsTheRunningImageOnlyWithTheSameHeaders) {
    auto headersOf = [](const std::wstring& path) {
        std::string bytes = TestSupport::ReadBytes(path);
        bytes.resize(4096);
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    };
    const auto* image = reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
    std::vector<uint8_t> own = headersOf(TestSupport::ExePath());
    EXPECT_TRUE(Trust::SameImageHeaders(own.data(), own.size(), image));
    std::vector<uint8_t> other = headersOf(StandIn::Exe());
    EXPECT_FALSE(Trust::SameImageHeaders(other.data(), other.size(), image));
    // The same file with a signature added: the security directory differs.
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, own.data(), sizeof(dos));
    const size_t security = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                            offsetof(IMAGE_OPTIONAL_HEADER, DataDirectory) +
                            IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    std::vector<uint8_t> signedCopy = own;
    signedCopy[security] ^= 0x10;
    EXPECT_FALSE(Trust::SameImageHeaders(signedCopy.data(), signedCopy.size(), image));
    EXPECT_FALSE(Trust::SameImageHeaders(own.data(), 64, image)) << "headers cut short";
    // This test program is not signed: a development build's own publisher is "unsigned", read through the handle.
    EXPECT_EQ(Trust::InstallerPublisher().kind, Publisher::Kind::Unsigned);
}
