#include "ember/tree/stream_reader.h"

void CEmber_StreamReader::Feed(uint8_t octet)
{
    FeedSynchronised(&octet, 1, false);
}

void CEmber_StreamReader::FeedOctets(const uint8_t* octets, uint32_t length)
{
    FeedSynchronised(octets, length, false);
}
