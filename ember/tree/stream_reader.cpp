#include "ember/tree/stream_reader.h"

void CEmber_StreamReader::Reset()
{
    CEmber_TreeReader::Reset();
    m_matchPosition = 0;
}

void CEmber_StreamReader::Feed(uint8_t octet)
{
    if (m_matchPosition >= 0) {
        if (octet != kStartSequence[m_matchPosition]) {
            m_matchPosition = 0;
            return;
        }
        if (++m_matchPosition == int32_t(sizeof kStartSequence)) {
            m_matchPosition = -1;
            FeedBlock(kStartSequence, sizeof kStartSequence);
        }
        return;
    }
    try {
        CEmber_TreeReader::Feed(octet);
    } catch (CEmber_Exception error) {
        OnError(error);
        Reset();
        m_matchPosition = 0;
    }
}

void CEmber_StreamReader::FeedOctets(const uint8_t* octets, uint32_t length)
{
    while (length > 0) {
        uint32_t taken = 1;
        if (m_matchPosition >= 0) {
            CEmber_StreamReader::Feed(*octets);
        } else {
            try {
                taken = FeedRun(octets, length);
            } catch (CEmber_Exception error) {
                taken = GetRunConsumed();
                OnError(error);
                Reset();
                m_matchPosition = 0;
            }
        }
        octets += taken;
        length -= taken;
    }
}

void CEmber_StreamReader::OnItemComplete()
{
    CEmber_TreeReader::OnItemComplete();
    if (IsTreeComplete()) {
        // The octets after a message wait for the next start sequence.
        m_matchPosition = 0;
        StopRun();
    }
}
