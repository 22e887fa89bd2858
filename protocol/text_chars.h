// Characters as the "C" locale's scanf sees them, for every reader of the
// service's texts (command lines, hex text), without a library call per
// character.
#pragma once

constexpr bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
