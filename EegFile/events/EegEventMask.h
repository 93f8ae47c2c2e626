// CEegEventMask: one bit per event type. A set bit masks its type out of a
// selection; a mask with no bit set selects every event.
#pragma once

#include <cstdint>

#include "EegFile/events/EegEvent.h"

class CEegEventMask {
public:
    CEegEventMask() = default;

    static const CEegEventMask EmptyMask;

    int Get(CEegEvent::EventType t) const { return Bit(t) & m_Mask ? 1 : 0; }
    int Get(const CEegEvent& e) const { return Get(e.GetEventType()); }
    int IsAnyMaskSet() const { return m_Mask != 0; }

    void SetMask(CEegEvent::EventType t, int on) { Set(Bit(t), on); }
    void SetAll(int on) { m_Mask = on ? 0xFFFFFFFFu : 0; }
    void Or(CEegEventMask other) { m_Mask |= other.m_Mask; }
    // Calibrate, recording reference, montage, trace info, notch, linked filters,
    // linked sensitivity and speed.
    void SetMontageParameterMask(int on) { Set(kMontageParameters, on); }
    // Record, impedance, block, flash rate and run, timer, data deletion and
    // segment marks, analysis and system events.
    void SetMiscMask(int on) { Set(kMisc, on); }

    uint32_t GetBits() const { return m_Mask; }

private:
    static constexpr uint32_t Bit(CEegEvent::EventType t) {
        return t >= 0 && t < 32 ? 1u << t : 0u;
    }
    void Set(uint32_t bits, int on) { m_Mask = on ? (m_Mask | bits) : (m_Mask & ~bits); }

    static constexpr uint32_t kMontageParameters =
        1u << 1 | 1u << 3 | 1u << 4 | 1u << 5 | 1u << 6 | 1u << 7 | 1u << 8 | 1u << 9 | 1u << 10;
    static constexpr uint32_t kMisc = 1u << 0 | 1u << 2 | 1u << 11 | 1u << 14 | 1u << 15 |
                                      1u << 16 | 1u << 17 | 1u << 18 | 1u << 20 | 1u << 23;

    uint32_t m_Mask = 0;
};

inline const CEegEventMask CEegEventMask::EmptyMask{};
