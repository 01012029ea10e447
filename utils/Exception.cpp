#include "utils/Exception.h"

#include "utils/TextConv.h"

namespace Utils {

Exception::Exception(const std::wstring& message) : text_(WideToMultiByte(message, kCodePageAnsi)) {}

} // namespace Utils
