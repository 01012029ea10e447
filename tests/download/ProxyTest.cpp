// The libcurl downloader behind a proxy, as the installer runs it (fetch.exe): the current user's static proxy
// and bypass list, an auto-config script served by nginx, the "-proxy" option, and a proxy that is down. Each
// request is checked where it arrived: at tinyproxy's log and at nginx's access log (the Via header tinyproxy
// adds). The settings are written to DefaultConnectionSettings, the only place Wine's WinHTTP reads them; this
// executable runs in a prefix of its own, so no other test's download goes through the proxy.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/servers/TestServers.h"
#include "tests/support/TestSupport.h"
#include "utils/ScopedWin.h"
#include "utils/TextConv.h"

using namespace TestServers;

namespace {

constexpr DWORD kDirect = 1;
constexpr DWORD kStaticProxy = 2;
constexpr DWORD kScript = 4;

struct Settings {
    DWORD flags = kDirect;
    std::string proxy, bypass, script;
};

std::string Dword(DWORD value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::string Counted(const std::string& text) {
    return Dword(static_cast<DWORD>(text.size())) + text;
}

// The binary layout the Internet settings keep: version, counter, flags, proxy, bypass list, script URL, and
// 32 bytes the system keeps for auto-detection.
bool WriteSettings(const Settings& s) {
    std::string blob = Dword(0x46) + Dword(1) + Dword(s.flags) + Counted(s.proxy) + Counted(s.bypass) +
                       Counted(s.script) + std::string(32, '\0');
    Utils::UniqueHKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections", 0, nullptr,
                          0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return ::RegSetValueExW(key.get(), L"DefaultConnectionSettings", 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(blob.data()),
                            static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
}

std::string LastLine(const std::string& output) {
    std::istringstream in(output);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        last = line;
    }
    return last;
}

std::wstring W(const std::string& s) {
    return Utils::MultiByteToWide(s, Utils::kCodePageUtf8);
}

} // namespace

TEST(Proxy, EachRequestGoesTheWayTheSettingsSay) {
    ASSERT_NE(ProxyPort(), 0) << "tinyproxy fixture";
    const std::string proxy = "127.0.0.1:" + std::to_string(ProxyPort());
    const std::string dead = "127.0.0.1:" + std::to_string(DeadPort());
    const std::string nginx = ":" + std::to_string(NginxPort());
    ASSERT_TRUE(TrustNginxTlsCa());

    // The script sends "localhost" through the proxy and every other host direct.
    const std::string scriptName = UniqueToken("proxy") + ".pac";
    ASSERT_TRUE(TestSupport::WriteBytes(NginxFile(W(scriptName)), "function FindProxyForURL(url, host) {\n"
                                                                  "    if (host == \"localhost\") return \"PROXY " +
                                                                      proxy +
                                                                      "; DIRECT\";\n    return \"DIRECT\";\n}\n"));
    const std::string script = "http://127.0.0.1" + nginx + "/" + scriptName;

    // Under Wine the origin is "localhost" whenever the proxy is 127.0.0.1 (see the platform notes).
    struct Case {
        const char* name;
        Settings settings;
        std::string option;
        const char* host;
        bool viaProxy;
        std::string failure; // empty: the download succeeds
        bool https = false;  // from nginx's HTTPS port with the good certificate, at "localhost"
    } cases[] = {
        {"static proxy", {kDirect | kStaticProxy, proxy, "", ""}, "", "localhost", true, ""},
        {"static proxy, <local> bypassed", {kDirect | kStaticProxy, proxy, "<local>", ""}, "", "localhost", false, ""},
        {"static proxy, bypassed by name", {kDirect | kStaticProxy, proxy, "*host", ""}, "", "localhost", false, ""},
        {"script: through the proxy", {kDirect | kScript, "", "", script}, "", "localhost", true, ""},
        {"script: direct", {kDirect | kScript, "", "", script}, "", "127.0.0.1", false, ""},
        {"option over direct settings", {kDirect, "", "", ""}, "-proxy=http://" + proxy, "localhost", true, ""},
        {"option direct over a static proxy",
         {kDirect | kStaticProxy, proxy, "", ""},
         "-proxy=direct",
         "localhost",
         false,
         ""},
        // Through a tunnel (CONNECT): the proxy sees the host, nginx no Via; the server check still applies.
        {"static proxy, HTTPS", {kDirect | kStaticProxy, proxy, "", ""}, "", "localhost", true, "", true},
        // A list: the attempt after the dead proxy's failure takes the next one.
        {"static list, first proxy down",
         {kDirect | kStaticProxy, dead + ";" + proxy, "", ""},
         "",
         "localhost",
         true,
         ""},
        {"static proxy down",
         {kDirect | kStaticProxy, dead, "", ""},
         "",
         "localhost",
         false,
         "LibCurl: proxy " + dead + ": "},
        {"option proxy down",
         {kDirect, "", "", ""},
         "-proxy=http://" + dead,
         "localhost",
         false,
         "LibCurl: proxy http://" + dead + ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteSettings(c.settings));
        const std::string token = UniqueToken("px");
        TestSupport::TempDir dir(L"proxy");
        std::wstring target = dir / L"out.bin";
        const std::string path = "/files/small.bin?t=" + token;
        const std::string url = c.https ? NginxTlsUrl("good", path) : "http://" + std::string(c.host) + nginx + path;
        const std::string tunnel = "CONNECT " + url.substr(8, url.find('/', 8) - 8) + " ";
        const size_t tunnelsBefore = ProxyRequests(tunnel).size();
        std::wstring command = L"\"" + WinePath(TUNIVOX_FETCH_EXE) + L"\" " +
                               (c.option.empty() ? L"" : W(c.option) + L" ") + W(url) + L" \"" + target + L"\"";
        auto result = TestSupport::RunCommand(command, 120000);
        const std::string last = LastLine(result.output);

        if (!c.failure.empty()) {
            EXPECT_EQ(result.exitCode, 1u) << result.output;
            EXPECT_EQ(last.rfind("1004\t", 0), 0u) << last;
            EXPECT_NE(last.find(c.failure), std::string::npos) << last;
            EXPECT_TRUE(NginxRequests(token, 0, 0).empty());
            continue;
        }
        EXPECT_EQ(result.exitCode, 0u) << result.output;
        EXPECT_EQ(last, "1003\t0\tLibCurl");
        EXPECT_EQ(Sha256Hex(TestSupport::ReadBytes(target)),
                  Sha256Hex(TestSupport::ReadBytes(NginxFile(L"files\\small.bin"))));
        // The HEAD and the GET, both the same way.
        auto arrived = NginxRequests(token, 2);
        ASSERT_EQ(arrived.size(), 2u);
        for (const AccessEntry& e : arrived) {
            if (c.viaProxy && !c.https) {
                EXPECT_NE(e.via.find("tinyproxy"), std::string::npos) << e.requestLine << " via " << e.via;
            } else {
                EXPECT_EQ(e.via, "-") << e.requestLine;
            }
        }
        if (c.https) {
            EXPECT_EQ(ProxyRequests(tunnel).size() - tunnelsBefore, 2u);
        } else {
            EXPECT_EQ(ProxyRequests(token).size(), c.viaProxy ? 2u : 0u);
        }
    }
    EXPECT_TRUE(WriteSettings({}));
}
