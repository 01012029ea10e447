// Who sits at the console and whether that account and this process have administrator rights.
// Every call asks the system again; failures read as "no".
#pragma once

#include <string>

// On success stores the console user's name and returns true; on failure leaves `name` alone.
bool GetConsoleUserName(std::wstring& name);
// Whether the local account `name` has administrator privilege; false for unknown or empty names.
bool IsUserAdmin(const std::wstring& name);
// Whether the calling thread's token is an (enabled) member of the built-in Administrators group.
bool IsProcessAdmin();
