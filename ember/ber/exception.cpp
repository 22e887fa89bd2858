#include "ember/ber/exception.h"

#include <iterator>

namespace {

struct ErrorRow
{
    int32_t code;
    const char* message;
};

constexpr ErrorRow kErrors[] = {
#define KORVANE_EMBER_ERROR_ROW(name, code, message) {name, message},
    KORVANE_EMBER_ERRORS(KORVANE_EMBER_ERROR_ROW)
#undef KORVANE_EMBER_ERROR_ROW
};

constexpr char kUnregistered[] = "Unregistered error";

} // namespace

const char* EmberErrorMessage(int32_t code)
{
    for (const ErrorRow& row : kErrors)
        if (row.code == code)
            return row.message;
    return nullptr;
}

const char* EmberErrorText(int32_t code)
{
    const char* message = EmberErrorMessage(code);
    return message ? message : kUnregistered;
}

int EmberErrorCount()
{
    return int(std::size(kErrors));
}

int32_t EmberErrorCodeAt(int index)
{
    return kErrors[index].code;
}

CEmber_Exception::CEmber_Exception(EmberError code) : m_code(code), m_message(EmberErrorText(code))
{}
