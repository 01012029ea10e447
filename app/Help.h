// "/?", "-help", "--help": the options and exit codes, for whoever deploys the installer.
#pragma once

namespace App {

extern const wchar_t kHelpText[];

// Writes kHelpText to the standard output when it is a file or a pipe, else to the console of the parent process
// (started from cmd or PowerShell), else shows it in a message box.
void ShowHelp();

} // namespace App
