// What std::terminate does in the installer: log one line, then abort as the default handler would.
//
// The default handler of the static C++ runtime names the uncaught exception's type on the standard error
// stream, which a GUI program does not have, and to do so it links the runtime's symbol demangler (about 50 KiB
// of the installer). Defining the handler here keeps that out: the linker takes this definition and never pulls
// the runtime's own.
#include <cstdlib>
#include <exception>

#include "utils/DebugLog.h"

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    DEBUG_LOG(L"terminate: an exception was not caught, or a noexcept function threw; aborting");
    std::abort();
}

} // namespace __gnu_cxx
