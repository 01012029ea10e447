// Security descriptors the elevated installer puts on what it creates, and what it reads back to check them.
//
// An elevated administrator's token names the Administrators group as the default owner, so "owner only" would let
// every administrator's un-elevated programs in; the descriptors here name the installer's own user SID, or
// SYSTEM and Administrators, explicitly, and are protected: no entry is inherited from the parent.
#pragma once

#include <windows.h>

#include <accctrl.h>

#include <string>

#include "utils/ScopedWin.h"
#include "utils/Status.h"

namespace Utils {

// The string form ("S-1-5-21-…") of this process's token user; empty when it cannot be read.
std::wstring TokenUserSid();

// "D:P(A;;GA;;;<sid>)": full access for `userSid` alone, nothing inherited.
std::wstring UserOnlySddl(const std::wstring& userSid);

// "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)": owned by Administrators, full access for SYSTEM and Administrators
// only (inherited by what is created inside), nothing inherited from the parent.
extern const wchar_t kAdministratorsOnlySddl[];

// A self-relative security descriptor made from SDDL text.
Result<UniqueLocalMem> DescriptorFromSddl(const std::wstring& sddl);

// What the descriptor of the object behind `handle` says, as SDDL (owner and DACL); empty when it cannot be read.
std::wstring ReadBackSddl(HANDLE handle, SE_OBJECT_TYPE type);

// True when `sddl` (owner and DACL, as ReadBackSddl gives them) says: owned by Administrators or SYSTEM, a
// protected DACL (nothing inherited), and access allowed to SYSTEM and Administrators only.
bool IsAdministratorsOnlySddl(const std::wstring& sddl);

// Makes the folder `path` with kAdministratorsOnlySddl, or checks the one already there: no reparse point on its
// path or at its end, and a descriptor IsAdministratorsOnlySddl accepts. Fails when it may not be used (a folder
// that fails is left alone, never taken).
Status AdministratorsOnlyFolder(const std::wstring& path);

// Makes the folder `path`, which must not exist yet, with kAdministratorsOnlySddl. Succeeds when it was made and is
// a plain folder. The descriptor is given at creation, so nobody else ever had access: one that reads back otherwise
// is logged, not refused (Wine keeps no folder descriptor and reads back one derived from Unix permissions).
Status NewAdministratorsOnlyFolder(const std::wstring& path);

} // namespace Utils
