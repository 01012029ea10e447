#include "utils/Exception.h"

#include "utils/TextConv.h"

namespace Utils {

Exception::Exception(const std::wstring& message) : text(WideToMultiByte(message, kCodePageAnsi)) {}

} // namespace Utils
