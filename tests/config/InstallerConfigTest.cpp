#include <gtest/gtest.h>

#include <cstdio>

#include "config/InstallerConfig.h"
#include "tests/support/TestSupport.h"
#include "utils/DebugLog.h"

using TestSupport::TempDir;

namespace {

InstallerConfig Defaults() {
    return InstallerConfig(InstallerConfig::DefaultsOnly{});
}

InstallerConfig FromCommandLine(const wchar_t* commandLine) {
    InstallerConfig c = Defaults();
    c.ApplyCommandLine(commandLine);
    return c;
}

// Writes an ini file in UTF-16LE with a byte-order mark, as a Windows user's editor may save it.
void WriteIni(const std::wstring& path, const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    ASSERT_TRUE(TestSupport::WriteBytes(path, bytes));
}

// Prints the record this process built during static construction.
TestSupport::RegisterChild dumpConfig(L"dump-config", [](const std::vector<std::wstring>&) {
    const InstallerConfig& c = g_installerConfig;
    wchar_t line[2048];
    Utils::FormatBounded(line, 2048, L"url=%s|type=%d|net=%d|scale=%.6f|cmd=%s|exe=%s", c.DownloadUrl.c_str(),
                         c.DownloadType, c.IsCheckNet ? 1 : 0, c.DownloadScale, c.InstCmd.c_str(),
                         c.ExeFileName.c_str());
    std::fputs(TestSupport::Utf8(line).c_str(), stdout);
    return 0;
});

} // namespace

TEST(InstallerConfig, DefaultsWithoutIniOrOptions) {
    InstallerConfig c = Defaults();
    EXPECT_EQ(c.DownloadUrl, INSTALLER_DEFAULT_DOWNLOAD_URL);
    EXPECT_EQ(c.DownloadType, 1);
    EXPECT_TRUE(c.IsCheckNet);
    EXPECT_DOUBLE_EQ(c.DownloadScale, 0.7);
    EXPECT_EQ(c.InstCmd, L"");
}

TEST(InstallerConfig, CommandLineOptions) {
    struct Case {
        const wchar_t* commandLine;
        std::function<void(const InstallerConfig&)> check;
    } cases[] = {
        {L"setup.exe -downloadtype=2 -downloadtype=1", [](auto& c) { EXPECT_EQ(c.DownloadType, 2); }},
        {L"setup.exe -downloadtype 2", [](auto& c) { EXPECT_EQ(c.DownloadType, 0); }},
        {L"setup.exe -DOWNLOADTYPE=2", [](auto& c) { EXPECT_EQ(c.DownloadType, 1); }},
        {L"setup.exe -downloadtype=99999999999", [](auto& c) { EXPECT_EQ(c.DownloadType, 0); }},
        {L"setup.exe -ischecknet", [](auto& c) { EXPECT_FALSE(c.IsCheckNet); }},
        {L"setup.exe -ischecknet=True", [](auto& c) { EXPECT_FALSE(c.IsCheckNet); }},
        {L"setup.exe -ischecknet=true", [](auto& c) { EXPECT_TRUE(c.IsCheckNet); }},
        {L"setup.exe -downloadurl=", [](auto& c) { EXPECT_EQ(c.DownloadUrl, L""); }},
        {L"setup.exe -downloadurl", [](auto& c) { EXPECT_EQ(c.DownloadUrl, L""); }},
        {L"setup.exe \"-downloadurl=http://h/a b.exe\"",
         [](auto& c) { EXPECT_EQ(c.DownloadUrl, L"http://h/a b.exe"); }},
        {L"setup.exe -downloadurl=\"http://h/x y\"", [](auto& c) { EXPECT_EQ(c.DownloadUrl, L"http://h/x y"); }},
        {L"setup.exe -instcmd=/x", [](auto& c) { EXPECT_EQ(c.InstCmd, L"/x"); }},
        {L"setup.exe \"-mirrorurls= http://a/x | |http://b/${ROUTE}/y|\" -package=D:\\p.exe",
         [](auto& c) {
             EXPECT_EQ(c.MirrorUrls, (std::vector<std::wstring>{L"http://a/x", L"http://b/download_silent/y"}));
             EXPECT_EQ(c.PackagePath, L"D:\\p.exe");
         }},
        {L"setup.exe \"-instcmd=/a \\\"q\\\"\"", [](auto& c) { EXPECT_EQ(c.InstCmd, L"/a \"q\""); }},
        {L"setup.exe -downloadscale=0.25", [](auto& c) { EXPECT_DOUBLE_EQ(c.DownloadScale, 0.25); }},
        // An unconvertible share keeps the earlier value rather than becoming not-a-number.
        {L"setup.exe -downloadscale=abc", [](auto& c) { EXPECT_DOUBLE_EQ(c.DownloadScale, 0.7); }},
        {L"setup.exe -downloadscale=", [](auto& c) { EXPECT_DOUBLE_EQ(c.DownloadScale, 0.7); }},
        {L"setup.exe -downloadscale=1e400", [](auto& c) { EXPECT_DOUBLE_EQ(c.DownloadScale, 0.7); }},
        {L"setup.exe -isenableappsensors -dlappnamesuffix=.x -dlappversion=2 other",
         [](auto& c) {
             EXPECT_FALSE(c.IsEnableAppSensors);
             EXPECT_EQ(c.DlAppNameSuffix, L".x");
             EXPECT_EQ(c.DlAppVersion, L"2");
             EXPECT_EQ(c.DownloadType, 1);
         }},
        {L"-downloadtype=2", [](auto& c) { EXPECT_EQ(c.DownloadType, 2); }}, // argument 0 counts too
        // Silent mode: the folder and the shortcut choices; a value an option cannot take is named, not guessed.
        {L"setup.exe",
         [](auto& c) {
             EXPECT_FALSE(c.Silent);
             EXPECT_TRUE(c.SilentDesktopShortcut && c.SilentQuickLaunch);
             EXPECT_TRUE(c.BadOptions.empty());
         }},
        {L"setup.exe -silent \"-instdir=D:\\My Apps\" -desktopshortcut=false -quicklaunch=true",
         [](auto& c) {
             EXPECT_TRUE(c.Silent);
             EXPECT_EQ(c.SilentInstDir, L"D:\\My Apps");
             EXPECT_FALSE(c.SilentDesktopShortcut);
             EXPECT_TRUE(c.SilentQuickLaunch);
             EXPECT_TRUE(c.BadOptions.empty());
         }},
        {L"setup.exe -silent=true -quicklaunch=false",
         [](auto& c) {
             EXPECT_TRUE(c.Silent && c.SilentDesktopShortcut);
             EXPECT_FALSE(c.SilentQuickLaunch);
             EXPECT_TRUE(c.BadOptions.empty());
         }},
        {L"setup.exe -silent=no -instdir -desktopshortcut=True -quicklaunch",
         [](auto& c) {
             EXPECT_TRUE(c.Silent) << "any -silent keeps the window away";
             EXPECT_EQ(c.BadOptions, (std::vector<std::wstring>{L"-silent=no", L"-instdir=", L"-desktopshortcut=True",
                                                                L"-quicklaunch="}));
             EXPECT_TRUE(c.SilentDesktopShortcut && c.SilentQuickLaunch) << "a bad value changes nothing";
         }},
        // The switches deployment tools know from other installers; anything unknown is named by its name alone.
        {L"setup.exe /S", [](auto& c) { EXPECT_TRUE(c.Silent && c.IgnoredArguments.empty()); }},
        {L"setup.exe /Quiet", [](auto& c) { EXPECT_TRUE(c.Silent && c.IgnoredArguments.empty()); }},
        {L"setup.exe /SILENT", [](auto& c) { EXPECT_TRUE(c.Silent && c.IgnoredArguments.empty()); }},
        {L"setup.exe -instdir=C:\\x -SILENT", [](auto& c) { EXPECT_TRUE(c.Silent && c.BadOptions.empty()); }},
        {L"setup.exe -Silent /x \"-pass=s3cr/et?q\" a=b -silent",
         [](auto& c) {
             EXPECT_TRUE(c.Silent);
             EXPECT_EQ(c.IgnoredArguments, (std::vector<std::wstring>{L"-pass", L"/x", L"a"}));
         }},
        {L"setup.exe -proxy=http://u:p@10.0.0.1:3128 -proxy=direct",
         [](auto& c) { EXPECT_EQ(c.Proxy, L"http://u:p@10.0.0.1:3128"); }},
        {L"setup.exe -connections=1 -connections=8", [](auto& c) { EXPECT_EQ(c.DownloadConnections, 1); }},
        {L"setup.exe -connections=99", [](auto& c) { EXPECT_EQ(c.DownloadConnections, 16); }},
        {L"setup.exe -connections=x", [](auto& c) { EXPECT_EQ(c.DownloadConnections, 4) << "the earlier value"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::Utf8(c.commandLine));
        c.check(FromCommandLine(c.commandLine));
    }
}

TEST(InstallerConfig, SplittingFollowsTheWindowsRules) {
    auto args = SplitCommandLine(L"\"C:\\Program Files\\setup.exe\" a\\\\\"b c\" \"\" -x=\"1 2\"3");
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[0], L"C:\\Program Files\\setup.exe");
    EXPECT_EQ(args[1], L"a\\b c");
    EXPECT_EQ(args[2], L"");
    EXPECT_EQ(args[3], L"-x=1 23");
}

TEST(InstallerConfig, IniLayerValuesAndFallbacks) {
    TempDir dir;
    std::wstring ini = dir / L"ZKInstallerConfig.ini";
    std::wstring longUrl = L"http://h/" + std::wstring(300, L'a');
    WriteIni(ini, L"[install]\r\n"
                  L"downloadurl = \"" +
                      longUrl +
                      L"\"\r\n"
                      L"DownloadType=2\r\n"
                      L"IsCheckNet=True\r\n"
                      L"DownloadScale=0.5 \r\n"
                      L"DownloadConnections=2\r\n"
                      L"MirrorUrls=" +
                      longUrl + L"|" + longUrl + L"|" + std::wstring(2000, L'b') +
                      L"\r\n"
                      L"DownlaodType=2\r\n"
                      L"InstCmd=\r\n");
    InstallerConfig c = Defaults();
    c.LoadIni(ini);
    EXPECT_EQ(c.IgnoredIniKeys, std::vector<std::wstring>{L"DownlaodType"}) << "a misspelt key is named";
    EXPECT_EQ(c.DownloadUrl, longUrl.substr(0, 259)) << "cut to the reader's 259 characters";
    EXPECT_EQ(c.DownloadType, 2);
    EXPECT_FALSE(c.IsCheckNet) << "only the exact text true is true";
    EXPECT_DOUBLE_EQ(c.DownloadScale, 0.5);
    EXPECT_EQ(c.InstCmd, L"");
    EXPECT_EQ(c.DownloadConnections, 2);
    EXPECT_EQ(c.MirrorUrls, (std::vector<std::wstring>{longUrl, longUrl, std::wstring(2048 - 2 * 310, L'b')}))
        << "a list is read up to 2,048 characters";
    // The command line beats the ini.
    c.ApplyCommandLine(L"setup.exe -downloadtype=1 -downloadscale=abc \"-log=C:\\a b.log\" -connections=x");
    EXPECT_EQ(c.DownloadType, 1);
    EXPECT_EQ(c.DownloadConnections, 2) << "not a number: the ini's value stays";
    EXPECT_EQ(c.LogPath, L"C:\\a b.log");
    // The log says where each value came from: a rejected option leaves the ini's value and layer.
    using L = InstallerConfig::Layer;
    EXPECT_EQ(c.IniPath, ini);
    EXPECT_EQ(c.sources.DownloadUrl, L::Ini);
    EXPECT_EQ(c.sources.DownloadType, L::CommandLine);
    EXPECT_EQ(c.sources.DownloadScale, L::Ini);
    EXPECT_EQ(c.sources.IsCheckNet, L::Ini);
    EXPECT_EQ(c.sources.InstCmd, L::Ini) << "an empty value is still the ini's";
    EXPECT_EQ(c.sources.DownloadConnections, L::Ini);

    WriteIni(ini, L"[Install]\r\nIsCheckNet=true\r\nDownloadScale=abc\r\nDownloadType=x\r\nInstCmd=/q\r\n"
                  L"DownloadConnections=x\r\n");
    InstallerConfig d = Defaults();
    d.LoadIni(ini);
    EXPECT_TRUE(d.IsCheckNet);
    EXPECT_DOUBLE_EQ(d.DownloadScale, 0.0) << "an unconvertible ini share is 0.0, not the default";
    EXPECT_EQ(d.DownloadType, 0);
    EXPECT_EQ(d.InstCmd, L"/q");
    EXPECT_EQ(d.DownloadUrl, INSTALLER_DEFAULT_DOWNLOAD_URL) << "missing key: the default";
    EXPECT_EQ(d.DownloadConnections, 4);
    EXPECT_EQ(d.sources.DownloadConnections, InstallerConfig::Layer::Default) << "a value that is not a number";
    EXPECT_EQ(d.sources.DownloadUrl, L::Default) << "and the default's layer";

    WriteIni(ini, L"[Other]\r\nDownloadScale=0.1\r\n");
    InstallerConfig e = Defaults();
    e.LoadIni(ini);
    EXPECT_DOUBLE_EQ(e.DownloadScale, 0.7) << "missing section: every fallback";
    EXPECT_TRUE(e.IsCheckNet);
    EXPECT_EQ(e.DownloadType, 1);

    InstallerConfig f = Defaults();
    f.LoadIni(dir / L"missing.ini");
    EXPECT_EQ(f.DownloadType, 1);
    EXPECT_EQ(f.IniPath, L"");
    EXPECT_EQ(f.sources.DownloadType, L::Default);
}

TEST(InstallerConfig, StaticConstructionReadsTheIniBesideTheExecutable) {
    std::wstring ini = TestSupport::ExeFolder() + L"\\ZKInstallerConfig.ini";
    auto before = TestSupport::RunChild(L"dump-config");
    EXPECT_EQ(before.output, "url=" + TestSupport::Utf8(INSTALLER_DEFAULT_DOWNLOAD_URL) +
                                 "|type=1|net=1|scale=0.700000|cmd=|exe=config_tests.exe");

    WriteIni(ini, L"[Install]\r\nDownloadUrl=http://127.0.0.1/${ROUTE}/p/${ROUTE}.exe\r\nDownloadType=2\r\n"
                  L"IsCheckNet=false\r\nDownloadScale=0.25\r\nInstCmd=/S 安装\r\n");
    auto after = TestSupport::RunChild(L"dump-config");
    ::DeleteFileW(ini.c_str());
    EXPECT_EQ(after.output, "url=http://127.0.0.1/download_silent/p/download_silent.exe|type=2|net=0|scale=0.250000|"
                            "cmd=/S 安装|exe=config_tests.exe");
}
