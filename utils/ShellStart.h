// Starting what the user opens after an installation (the product, its start page, the licence page) with the
// user's own rights. The installer runs elevated; whatever it starts itself inherits its administrator token, and
// the product lives in a folder the user can write. The desktop shell (explorer) runs with the signed-in user's
// un-elevated token: asked through IShellDispatch2::ShellExecute, it starts the program as itself would.
#pragma once

#include <string>

#include "utils/Status.h"

namespace Utils {

// Has the desktop shell start `target` (a program, a document or a URL) with `arguments`, shown as `show`
// (SW_*). Succeeds when the shell took it; otherwise says why nothing was started (no desktop shell runs without
// an interactive session). The calling thread must have initialised COM.
Status ShellStartUnelevated(const std::wstring& target, const std::wstring& arguments, int show);

} // namespace Utils
