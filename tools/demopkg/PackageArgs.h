// Command line of the demo package and of its uninstaller, parsed without touching the system.
//
// The installer runs the package as
//   <package path, unquoted> /S -console=show -version=1.0.0 -dsc=true|false -ssc=true|false [extra...]
//       -instdir="<folder>" /D=<folder>
// and a recorded uninstaller as
//   <uninstaller path, unquoted> /S -console=show _?=<folder>
// Neither the program path nor the /D= and _?= folders are quoted, so all three may contain blanks: the program
// path runs up to the first blank that is followed by an option, and /D= and _?= take the rest of the line, as
// the classic installer convention has it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace DemoPackage {

struct PackageArgs {
    bool silent = false;             // /S
    bool console = false;            // -console=show
    std::wstring version;            // -version=
    bool desktopShortcut = false;    // -dsc=true
    bool quickLaunch = false;        // -ssc=true
    std::wstring instDir;            // -instdir= (quotes removed)
    std::wstring dirOption;          // /D=
    std::wstring uninstallDir;       // _?= : present only on the uninstaller's line
    int stepPauseMs = 100;           // -steppause=N: pause between install steps, so progress is visible
    std::vector<std::wstring> extra; // options this package does not know, kept in order
};

// The line without its leading program path (and the blanks after it).
std::wstring_view SkipProgramName(std::wstring_view commandLine);

// Parses a whole command line as GetCommandLineW returns it, program path included.
PackageArgs ParsePackageCommandLine(std::wstring_view commandLine);

// The folder to install into: -instdir= wins over /D=; trailing separators are dropped except after a drive.
std::wstring TargetFolder(const PackageArgs& args);

// The folder the uninstaller is to clean, normalised like TargetFolder.
std::wstring NormaliseFolder(std::wstring folder);

} // namespace DemoPackage
