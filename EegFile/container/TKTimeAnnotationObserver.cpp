#include "EegFile/container/TKTimeAnnotationObserver.h"

#include <bit>

#include "EegFile/container/TKSectionList.h"

namespace {
constexpr double kSecondsPerDay = 86400.0;
}

void CTKTimeAnnotationObserver::SetUpPiece(int64_t basePosition, int secondOffset, double startTime,
                                           int32_t startStatus, int segmentFlag) {
    m_basePosition = basePosition;
    m_secondOffset = secondOffset;
    m_startTime = startTime;
    m_startStatus = startStatus;
    m_segmentFlag = segmentFlag;
    m_started = 1;
}

int CTKTimeAnnotationObserver::OnSectionHeader(CTKSectionEntry& e, int) {
    if (m_started) {
        if (e.m_sequence <= m_lastSequence)
            return 0;
        m_started = 0;
    }
    m_lastSequence = e.m_sequence;
    e.m_annotationLength = 24;
    // A zero rate would divide by zero; such a stream has no seconds to count.
    const int64_t seconds =
        m_bytesPerSecond > 0 ? (e.m_streamStart - m_basePosition) / m_bytesPerSecond : 0;
    const uint64_t time = std::bit_cast<uint64_t>(m_startTime + seconds / kSecondsPerDay);
    e.m_annotation[0] = static_cast<uint32_t>(time);
    e.m_annotation[1] = static_cast<uint32_t>(time >> 32);
    e.m_annotation[2] = static_cast<uint32_t>(m_startStatus);
    const int64_t first = m_secondOffset + seconds;
    e.m_annotation[3] = static_cast<uint32_t>(first);
    const int64_t inSection = m_bytesPerSecond > 0 ? e.m_used / m_bytesPerSecond : 0;
    e.m_annotation[4] = static_cast<uint32_t>(first + inSection);
    e.m_annotation[5] = m_segmentFlag && (m_firstPiece || m_lastPiece) ? 1 : 0;
    return 0;
}
