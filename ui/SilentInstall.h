// The installation without a window (-silent): the same checks, orchestrator and records as the main window, with
// every warning and package message going to the log and the outcome to the exit code
// (MainWndLogic::SilentExitCode). The product is not started and no start page is opened.
//
// Threads: runs on the entry point's thread (a COM apartment already), which also handles every status event in
// order; the orchestrator's workers only queue them.
#pragma once

#include <string>

// Runs one installation with the configuration's silent-mode choices; returns the exit code, and why in words
// (for the log's last line, MainWndLogic::ResultLine).
int RunSilentInstall(std::wstring& reason);
