// Access to the loopback servers that the ctest fixtures `nginx` and `faultserver` run (tests/servers/
// CMakeLists.txt): their ports, the nginx document root, and the request logs as the servers wrote them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace TestServers {

// The Wine drive path (Z:\...) of a path of the machine the tests run on.
std::wstring WinePath(const std::string& unixPath);

// A token unique to this process and call, to tell one test's requests from every other's.
std::string UniqueToken(const std::string& hint);

// nginx: http://127.0.0.1:PORT/files/pkg.bin (4 MiB + 12345 B), files/small.bin, "files/a+b+中.bin";
// /redirect/X answers 302 to /X; a missing file is a 404.
int NginxPort();
std::string NginxUrl(const std::string& pathAndQuery); // pathAndQuery begins with "/"
std::wstring NginxFile(const std::wstring& relative);  // a file under the document root, e.g. L"files\\pkg.bin"
// The same root over HTTPS at https://localhost:PORT with the server certificate `name` ("good", "selfsigned",
// "wronghost", "expired"), where /redirect/X answers 302 to https .../X and /tohttp/X 302 to the http server's /X;
// the test server CA that issued the good one becomes a trusted root of the prefix.
std::string NginxTlsUrl(const std::string& name, const std::string& pathAndQuery);
bool TrustNginxTlsCa();

struct AccessEntry {
    std::string method, uri, range, status, bytes, requestLine;
    std::string via; // the Via header, "-" when the request came direct
};
// Access-log entries whose request line contains `needle`; waits up to `waitMs` for at least `atLeast` of them
// (nginx writes an entry when the response is done, which may be just after the client saw the last byte).
std::vector<AccessEntry> NginxRequests(const std::string& needle, size_t atLeast = 0, DWORD waitMs = 3000);

// tinyproxy: an HTTP proxy on 127.0.0.1:PORT. The request lines it forwarded ("GET http://... HTTP/1.1") that
// contain `needle`.
int ProxyPort();
std::vector<std::string> ProxyRequests(const std::string& needle);

// Fault server: http://127.0.0.1:PORT/f/TOKEN/NAME?params, serving (a prefix of) its 3 MiB blob.
int FaultPort();
std::string FaultUrl(const std::string& token, const std::string& params = "");
std::string FaultBlob(size_t size = static_cast<size_t>(-1));
// The body of repeat=COPIES (copy k with every byte XOR k); `changed`: the file after change=N (every byte XOR 0xFF,
// 1000 bytes shorter).
std::string FaultBody(int copies, bool changed = false);

struct FaultEntry {
    std::string method, requestLine, range, status, ifRange;
};
std::vector<FaultEntry> FaultRequests(const std::string& token, size_t atLeast = 0, DWORD waitMs = 3000);
size_t CountMethod(const std::vector<FaultEntry>& entries, const std::string& method);

// A loopback port with nothing listening on it.
int DeadPort();

std::string Sha256Hex(const std::string& bytes);

} // namespace TestServers
