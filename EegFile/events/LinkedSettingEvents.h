// The linked (montage-wide) display settings that change as events: high cut, low
// cut, sensitivity and paper speed. Each holds one value that its domain limits:
// a value outside the domain takes the domain's default.
#pragma once

#include "EegFile/events/EegEvent.h"

class CLinkedHighcutEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CLinkedHighcutEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double hz = 0.0)
        : CEegEvent(etLinkedHighcut, stamp) {
        InitLinkedHighcut(hz);
    }
    void InitLinkedHighcut(double hz);
    double GetLinkedHighcut() const { return m_dValue; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    double m_dValue = 0.0;
};

class CLinkedLowcutEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CLinkedLowcutEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double hz = 0.0)
        : CEegEvent(etLinkedLowcut, stamp) {
        InitLinkedLowcut(hz);
    }
    void InitLinkedLowcut(double hz);
    double GetLinkedLowcut() const { return m_dValue; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    double m_dValue = 0.0;
};

class CLinkedSensitivityEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CLinkedSensitivityEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                                     double uvPerMm = 0.0)
        : CEegEvent(etLinkedSensitivity, stamp) {
        InitLinkedSensitivity(uvPerMm);
    }
    void InitLinkedSensitivity(double uvPerMm);
    double GetLinkedSensitivity() const { return m_dValue; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    double m_dValue = 0.0;
};

class CSpeedEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CSpeedEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double mmPerS = 0.0)
        : CEegEvent(etSpeed, stamp) {
        InitSpeed(mmPerS);
    }
    void InitSpeed(double mmPerS);
    double GetSpeed() const { return m_dValue; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    double m_dValue = 0.0;
};
