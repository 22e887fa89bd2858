// The reader for a console link: synchronises on the message start
// sequence and survives any error.
//
// Octets are dropped until the nine octets 7F 8F FF FE D9 5C 80 30 80 (the
// header of every message's root) have arrived in a row; a mismatching octet
// starts the match over and is not compared again with the first start
// octet. The start octets are then replayed into the octet machine. After a
// complete message, or after any CEmber_Exception (passed to OnError, then
// Reset), the reader waits for the next start sequence. This is the only
// place the codec catches its exceptions (the octet machine's synchronised
// feeding, which the boundary scanner shares).
#pragma once

#include "ember/ber/exception.h"
#include "ember/ber/framing.h"
#include "ember/tree/tree_reader.h"

#include <cstdint>

class CEmber_StreamReader : public CEmber_TreeReader
{
public:
    static constexpr const uint8_t (&kStartSequence)[9] = kEmberStartSequence;

    explicit CEmber_StreamReader(uint8_t mode) : CEmber_TreeReader(mode) {}

    void Feed(uint8_t octet) override;

    // Reset (inherited) also waits for the next start sequence again.
    // OnError (inherited from the octet machine): a CEmber_Exception was
    // caught while feeding (the caught copy).

    // 0..8 while waiting (start octets matched so far), -1 once synchronised.
    int32_t GetMatchPosition() const { return GetSyncPosition(); }

protected:
    // The whole block with the results of Feed on each octet: matched octet
    // by octet while waiting, run through the octet machine in one go once
    // synchronised.
    void FeedOctets(const uint8_t* octets, uint32_t length) override;
};
