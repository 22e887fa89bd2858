// The message of a codec exception, for code that also sees <windows.h>:
// its GetMessage macro would rename the accessor at the call site only.
#pragma once

#include <string>

class CEmber_Exception;

namespace testing_support {

std::string ErrorMessage(const CEmber_Exception& error);

} // namespace testing_support
