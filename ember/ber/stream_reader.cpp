#include "ember/ber/stream_reader.h"

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

void CEmber_StreamReader::OnItemComplete()
{
    CEmber_TreeReader::OnItemComplete();
    if (IsTreeComplete())
        m_matchPosition = 0;
}
