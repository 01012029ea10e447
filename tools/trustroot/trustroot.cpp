// trustroot: adds a DER certificate to the current user's trusted root store ("ROOT"), as an administrator
// deploying a private CA would. Wine keeps it in the prefix's registry without asking anyone.
// Usage: trustroot.exe CERT.der    Exit 0 when the certificate is in the store afterwards.
#include <windows.h>

#include <string>
#include <vector>

#include "utils/ScopedWin.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 2;
    }
    Utils::UniqueFileHandle file(
        ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return 1;
    }
    std::vector<BYTE> der(1 << 16);
    DWORD got = 0;
    if (!::ReadFile(file.get(), der.data(), static_cast<DWORD>(der.size()), &got, nullptr) || got == 0) {
        return 1;
    }
    Utils::UniqueCertStore root(::CertOpenSystemStoreW(0, L"ROOT"));
    if (!root) {
        return 1;
    }
    return ::CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(), got,
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
               ? 0
               : 1;
}
