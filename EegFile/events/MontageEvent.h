// CMontageEvent: the montage changed; holds the new montage by value.
#pragma once

#include "EegBase/EegMontage.h"
#include "EegFile/events/EegEvent.h"

class CMontageEvent : public CEegEvent {
public:
    explicit CMontageEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                           const CEegMontage* montage = nullptr)
        : CEegEvent(etMontage, stamp) {
        if (montage)
            m_Montage = *montage;
    }

    void InitMontage(const CEegMontage& montage) { m_Montage = montage; }
    const CEegMontage& GetMontage() const { return m_Montage; }

private:
    CEegMontage m_Montage;
};
