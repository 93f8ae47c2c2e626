// CPersystEvent: a detection reported by the external Persyst analysis, with the
// product's type, duration, origin, type code and text. The deleted flag is the
// user's and is never stored.
#pragma once

#include "EegFile/events/EegEvent.h"

class CPersystEvent : public CEegEvent {
public:
    // The product's own values, passed through.
    enum EPersystType : int {};

    static const WORD currentSchema;

    // Type 0, duration 0, origin 2, type code 0, no comment.
    explicit CPersystEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp);
    // The constructors with a comment write the locale's decimal separator in it as
    // "."; duration 0, origin 2, type code 4.
    CPersystEvent(EPersystType type, const CString& comment, CEegTimeStamp stamp);
    // Origin 2, type code 0.
    CPersystEvent(EPersystType type, const CString& comment, double duration, CEegTimeStamp stamp);
    CPersystEvent(EPersystType type, const CString& comment, double duration, unsigned short origin,
                  unsigned short typeCode, CEegTimeStamp stamp);

    EPersystType GetPersystType() const { return m_Type; }
    double GetDuration() const { return m_dDuration; }
    unsigned short GetOrigin() const { return m_wOrigin; }
    unsigned short GetType() const { return m_wTypeCode; }
    CString GetComment() const { return m_strComment; }
    bool GetEventDeleted() const { return m_bDeleted; }
    void SetEventDeleted(bool deleted) const { m_bDeleted = deleted; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);
    static CString NormaliseDecimals(const CString& comment);

    EPersystType m_Type;
    double m_dDuration;
    unsigned short m_wOrigin;
    unsigned short m_wTypeCode;
    CString m_strComment;
    mutable bool m_bDeleted = false;
};
