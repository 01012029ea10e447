// The package's own command line: the installer passes the program path and the /D= folder unquoted, so blanks
// in either must not split them, and only -instdir= carries quotes.
#include <gtest/gtest.h>

#include "tools/demopkg/PackageArgs.h"

namespace {

using DemoPackage::PackageArgs;
using DemoPackage::ParsePackageCommandLine;

TEST(PackageArgs, SkipProgramNameFindsTheFirstOption) {
    struct Case {
        const wchar_t* line;
        const wchar_t* rest;
    } cases[] = {
        {L"C:\\P\\pkg.exe /S -dsc=true", L"/S -dsc=true"},
        {L"D:\\My Apps\\Tunivox\\__Package_Tunivox.exe /S -console=show", L"/S -console=show"},
        {L"\"D:\\My Apps\\pkg.exe\" /S", L"/S"},
        {L"\"D:\\My Apps\\pkg.exe\"/S", L"/S"},
        {L"C:\\T\\~KadoTemp.1\\\\Tunivox_un_asa.exe /S -console=show _?=D:\\Old Dir",
         L"/S -console=show _?=D:\\Old Dir"},
        {L"C:\\a b c\\x.exe _?=C:\\y", L"_?=C:\\y"},
        {L"C:\\a b\\pkg.exe", L""},
        {L"C:\\a b\\pkg.exe   ", L""},
        {L"  pkg.exe   -x", L"-x"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DemoPackage::SkipProgramName(c.line), c.rest) << c.line;
    }
}

TEST(PackageArgs, InstallerLinesParse) {
    struct Case {
        const wchar_t* line;
        bool dsc;
        bool ssc;
        const wchar_t* instDir;
        const wchar_t* dirOption;
        const wchar_t* target;
        size_t extraCount;
    } cases[] = {
        // the line the installer builds, blanks in every path
        {L"D:\\My Apps\\Tunivox\\__Package_Tunivox.exe /S -console=show -version=1.0.0 -dsc=true -ssc=false "
         L"-instdir=\"D:\\My Apps\\Tunivox\" /D=D:\\My Apps\\Tunivox",
         true, false, L"D:\\My Apps\\Tunivox", L"D:\\My Apps\\Tunivox", L"D:\\My Apps\\Tunivox", 0},
        // extra options from the configuration sit between the shortcut options and -instdir=
        {L"p.exe /S -console=show -version=1.0.0 -dsc=false -ssc=true -channel=7 -quiet -instdir=\"C:\\T\" /D=C:\\T",
         false, true, L"C:\\T", L"C:\\T", L"C:\\T", 2},
        // only /D=: it takes the rest of the line, trailing blanks and the carriage return dropped
        {L"p.exe /S /D=C:\\Program Files\\Tunivox  \r", false, false, L"", L"C:\\Program Files\\Tunivox",
         L"C:\\Program Files\\Tunivox", 0},
        // -instdir= wins over /D= when both are given and differ
        {L"p.exe -instdir=\"C:\\A\" /D=C:\\B", false, false, L"C:\\A", L"C:\\B", L"C:\\A", 0},
        // the shortcut values are read case-blind; anything but true is false
        {L"p.exe -dsc=TRUE -ssc=yes", true, false, L"", L"", L"", 0},
        {L"p.exe -dsc= -ssc=truex", false, false, L"", L"", L"", 0},
        // a trailing separator is dropped, except after a drive
        {L"p.exe -instdir=\"C:\\T\\\\\"", false, false, L"C:\\T\\\\", L"", L"C:\\T", 0},
        {L"p.exe /D=C:\\", false, false, L"", L"C:\\", L"C:\\", 0},
        {L"p.exe /D=C:", false, false, L"", L"C:", L"C:\\", 0},
        // quotes can also wrap a whole option
        {L"p.exe \"-instdir=C:\\x y\"", false, false, L"C:\\x y", L"", L"C:\\x y", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const PackageArgs args = ParsePackageCommandLine(c.line);
        EXPECT_EQ(args.desktopShortcut, c.dsc);
        EXPECT_EQ(args.quickLaunch, c.ssc);
        EXPECT_EQ(args.instDir, c.instDir);
        EXPECT_EQ(args.dirOption, c.dirOption);
        EXPECT_EQ(DemoPackage::TargetFolder(args), c.target);
        EXPECT_EQ(args.extra.size(), c.extraCount);
        EXPECT_TRUE(args.uninstallDir.empty());
    }
}

TEST(PackageArgs, FixedOptionsAndExtras) {
    const PackageArgs args = ParsePackageCommandLine(
        L"p.exe /S -console=show -version=1.0.0 -dsc=true -ssc=true -steppause=0 -a=1 \"-b=x y\" -instdir=\"C:\\T\"");
    EXPECT_TRUE(args.silent);
    EXPECT_TRUE(args.console);
    EXPECT_EQ(args.version, L"1.0.0");
    EXPECT_EQ(args.stepPauseMs, 0);
    ASSERT_EQ(args.extra.size(), 2u);
    EXPECT_EQ(args.extra[0], L"-a=1");
    EXPECT_EQ(args.extra[1], L"-b=x y");

    const PackageArgs plain = ParsePackageCommandLine(L"p.exe -instdir=\"C:\\T\"");
    EXPECT_FALSE(plain.silent);
    EXPECT_FALSE(plain.console);
    EXPECT_EQ(plain.stepPauseMs, 100);
    EXPECT_EQ(ParsePackageCommandLine(L"p.exe -steppause=-5").stepPauseMs, 0);
}

TEST(PackageArgs, UninstallerLines) {
    struct Case {
        const wchar_t* line;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\Temp\\~KadoTemp.92482B06FB471E17\\\\Tunivox_un_asa.exe /S -console=show _?=D:\\Old", L"D:\\Old"},
        {L"C:\\Temp Dir\\un.exe /S -console=show _?=D:\\My Apps\\Tunivox", L"D:\\My Apps\\Tunivox"},
        {L"D:\\My Apps\\Tunivox\\uninst.ep /S -console=show _?=D:\\My Apps\\Tunivox\\", L"D:\\My Apps\\Tunivox"},
        {L"un.exe _?=", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const PackageArgs args = ParsePackageCommandLine(c.line);
        EXPECT_EQ(DemoPackage::NormaliseFolder(args.uninstallDir), c.folder);
        EXPECT_TRUE(args.instDir.empty());
        EXPECT_TRUE(args.dirOption.empty());
    }
}

} // namespace
