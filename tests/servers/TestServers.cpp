#include "tests/servers/TestServers.h"

#include <winsock2.h>
#include <bcrypt.h>

#include <atomic>
#include <sstream>

#include "tests/support/TestSupport.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

namespace TestServers {

namespace {

std::wstring ServersDir() {
    return WinePath(TUNIVOX_TESTSERVERS_DIR);
}

int ReadPort(const std::wstring& file) {
    std::string text = TestSupport::ReadBytes(file);
    return text.empty() ? 0 : std::atoi(text.c_str());
}

std::vector<std::vector<std::string>> ReadTabLines(const std::wstring& file) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(TestSupport::ReadBytes(file));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        size_t begin = 0;
        for (;;) {
            size_t tab = line.find('\t', begin);
            fields.push_back(line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
            if (tab == std::string::npos) {
                break;
            }
            begin = tab + 1;
        }
        rows.push_back(fields);
    }
    return rows;
}

} // namespace

std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = L"Z:" + Utils::MultiByteToWide(unixPath, Utils::kCodePageUtf8);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

std::string UniqueToken(const std::string& hint) {
    static std::atomic<int> counter{0};
    return hint + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64()) + "-" +
           std::to_string(++counter);
}

int NginxPort() {
    return ReadPort(ServersDir() + L"\\nginx\\port");
}

std::string NginxUrl(const std::string& pathAndQuery) {
    return "http://127.0.0.1:" + std::to_string(NginxPort()) + pathAndQuery;
}

std::string NginxTlsUrl(const std::string& name, const std::string& pathAndQuery) {
    std::istringstream in(TestSupport::ReadBytes(ServersDir() + L"\\nginx\\tls-ports"));
    std::string key;
    int port = 0;
    while (in >> key >> port) {
        if (key == name) {
            return "https://localhost:" + std::to_string(port) + pathAndQuery;
        }
    }
    return "https://localhost:1" + pathAndQuery;
}

bool TrustNginxTlsCa() {
    std::string der = TestSupport::ReadBytes(ServersDir() + L"\\nginx\\tls\\ca.der");
    Utils::UniqueCertStore root(::CertOpenSystemStoreW(0, L"ROOT"));
    return !der.empty() && root &&
           ::CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                              static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

std::wstring NginxFile(const std::wstring& relative) {
    return ServersDir() + L"\\nginx\\html\\" + relative;
}

std::vector<AccessEntry> NginxRequests(const std::string& needle, size_t atLeast, DWORD waitMs) {
    ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        std::vector<AccessEntry> entries;
        for (const auto& f : ReadTabLines(ServersDir() + L"\\nginx\\logs\\access.log")) {
            if (f.size() >= 6 && f[5].find(needle) != std::string::npos) {
                entries.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f.size() >= 7 ? f[6] : "-"});
            }
        }
        if (entries.size() >= atLeast || ::GetTickCount64() >= deadline) {
            return entries;
        }
        ::Sleep(50);
    }
}

int ProxyPort() {
    return ReadPort(ServersDir() + L"\\tinyproxy\\port");
}

std::vector<std::string> ProxyRequests(const std::string& needle) {
    std::vector<std::string> requests;
    std::istringstream in(TestSupport::ReadBytes(ServersDir() + L"\\tinyproxy\\logs\\tinyproxy.log"));
    std::string line;
    const std::string marker = "): ";
    while (std::getline(in, line)) {
        size_t request = line.find("Request (file descriptor");
        if (request == std::string::npos || line.find(needle) == std::string::npos) {
            continue;
        }
        size_t at = line.find(marker, request);
        requests.push_back(at == std::string::npos ? line : line.substr(at + marker.size()));
    }
    return requests;
}

int FaultPort() {
    return ReadPort(ServersDir() + L"\\fault\\port");
}

std::string FaultUrl(const std::string& token, const std::string& params) {
    return "http://127.0.0.1:" + std::to_string(FaultPort()) + "/f/" + token + "/blob.bin" +
           (params.empty() ? "" : "?" + params);
}

std::string FaultBlob(size_t size) {
    std::string blob = TestSupport::ReadBytes(ServersDir() + L"\\fault\\blob.bin");
    return size < blob.size() ? blob.substr(0, size) : blob;
}

std::string FaultBody(int copies, bool changed) {
    const std::string blob = FaultBlob();
    std::string body;
    body.reserve(blob.size() * static_cast<size_t>(copies));
    for (int k = 0; k < copies; ++k) {
        const unsigned char mask = static_cast<unsigned char>(k ^ (changed ? 0xFF : 0));
        for (char b : blob) {
            body.push_back(static_cast<char>(static_cast<unsigned char>(b) ^ mask));
        }
    }
    if (changed) {
        body.resize(body.size() - 1000); // the server's other file is shorter too
    }
    return body;
}

std::vector<FaultEntry> FaultRequests(const std::string& token, size_t atLeast, DWORD waitMs) {
    ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        std::vector<FaultEntry> entries;
        for (const auto& f : ReadTabLines(ServersDir() + L"\\fault\\requests.log")) {
            if (f.size() >= 5 && f[0] == token) {
                entries.push_back({f[1], f[2], f[3], f[4], f.size() >= 6 ? f[5] : "-"});
            }
        }
        if (entries.size() >= atLeast || ::GetTickCount64() >= deadline) {
            return entries;
        }
        ::Sleep(50);
    }
}

size_t CountMethod(const std::vector<FaultEntry>& entries, const std::string& method) {
    size_t n = 0;
    for (const FaultEntry& e : entries) {
        n += e.method == method ? 1 : 0;
    }
    return n;
}

int DeadPort() {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = 0;
    int len = sizeof(addr);
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::closesocket(s);
    return port;
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[32] = {};
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (BCRYPT_SUCCESS(::BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0))) {
            ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                             static_cast<ULONG>(bytes.size()), 0);
            ::BCryptFinishHash(hash, digest, sizeof(digest), 0);
            ::BCryptDestroyHash(hash);
        }
        ::BCryptCloseAlgorithmProvider(alg, 0);
    }
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned char b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

} // namespace TestServers
