// A section observer that stamps each section of a stream written piece by piece
// with the time and the second numbers of its data: the stream holds whole
// seconds of bytesPerSecond bytes, and each piece starts at a known time.
//
// Annotation (24 bytes): words 0 and 1 the start time plus the seconds before the
// section (a day count as a double, low word first), word 2 the time's status,
// word 3 the section's first second, word 4 one past its last second, word 5 1
// when the segment flag is set and the section belongs to the first or the last
// piece. Words 6 and 7 are left as they are.
#pragma once

#include <cstdint>

#include "EegFile/container/TKCompoundFileCallbacks.h"

class CTKTimeAnnotationObserver : public CTKSectionObserver {
public:
    explicit CTKTimeAnnotationObserver(int bytesPerSecond) : m_bytesPerSecond(bytesPerSecond) {}

    // Starts a piece whose data begins at stream position basePosition, at second
    // secondOffset of the result, at time startTime (days, with its status word).
    // The section that holds the end of the previous piece keeps its annotation.
    void SetUpPiece(int64_t basePosition, int secondOffset, double startTime, int32_t startStatus,
                    int segmentFlag);

    int OnSectionHeader(CTKSectionEntry& entry, int flag) override;

    // Set by the user before each piece it writes.
    int m_firstPiece = 0;
    int m_lastPiece = 0;

private:
    int m_bytesPerSecond;
    int64_t m_basePosition = 0;
    int m_secondOffset = 0;
    double m_startTime = 0;
    int32_t m_startStatus = 0;
    int m_segmentFlag = 0;
    int m_started = 0;
    int m_lastSequence = -1;
};
