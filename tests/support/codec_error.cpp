// No window-system header here: GetMessage keeps its own name.
#include "tests/support/codec_error.h"

#include "ember/ber/exception.h"

namespace testing_support {

std::string ErrorMessage(const CEmber_Exception& error)
{
    return error.GetMessage();
}

} // namespace testing_support
