// CMontageEvent: the montage changed; holds the new montage by value.
#pragma once

#include "EegBase/EegMontage.h"
#include "EegFile/events/EegEvent.h"

class CMontageEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // Copies the montage when given.
    explicit CMontageEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                           const CEegMontage* montage = nullptr)
        : CEegEvent(etMontage, stamp) {
        if (montage)
            m_Montage = *montage;
    }

    void InitMontage(const CEegMontage& montage) { m_Montage = montage; }
    const CEegMontage& GetMontage() const { return m_Montage; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    CEegMontage m_Montage;
};
