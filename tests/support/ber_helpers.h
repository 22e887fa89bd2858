// Helpers shared by the codec tests: run a writer against a fresh output
// buffer and read its octets as hex text, and check the codec's exception.
#pragma once

#include "ember/ber/exception.h"
#include "ember/ber/output_buffer.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace testing_support {

// Runs write(buffer) on a new buffer; the octets written, as hex text.
template <typename Write>
std::string EncodedHex(Write&& write)
{
    CEmber_OutputBuffer buffer;
    write(buffer);
    return ToHex(buffer.Data(), buffer.Used());
}

// Success when call throws CEmber_Exception with exactly this code and text.
template <typename Call>
::testing::AssertionResult Raises(Call&& call, int32_t code, const std::string& message)
{
    try {
        call();
    } catch (const CEmber_Exception& e) {
        if (e.GetCode() == code && e.GetMessage() == message)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "threw " << e.GetCode() << " \"" << e.GetMessage()
                                             << "\", expected " << code << " \"" << message << "\"";
    }
    return ::testing::AssertionFailure()
           << "returned, expected " << code << " \"" << message << "\"";
}

// The same for code 1 "EOF", which never carries a location.
template <typename Call>
::testing::AssertionResult RaisesEof(Call&& call)
{
    return Raises(call, 1, "EOF");
}

} // namespace testing_support
