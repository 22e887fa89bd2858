#include "ember/ber/input_stream.h"

#include "ember/ber/exception.h"

uint8_t CEmber_MemoryStream::ReadOctet()
{
    if (m_position >= m_size)
        throw CEmber_Exception(eeError_Eof);
    return m_data[m_position++];
}
