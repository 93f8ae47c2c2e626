// CBookmarkEvent: a bookmarked range (the time stamp is its start) with a comment
// and the display settings to review it with: linked filters, sensitivity, paper
// speed and an override montage (a montage with no channels means none).
#pragma once

#include "EegBase/EegMontage.h"
#include "EegFile/events/EegEvent.h"

class CBookmarkEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // The end is stored as given; the settings take their domains' defaults.
    explicit CBookmarkEvent(CEegTimeStamp start = CEegTimeStamp::NullStamp,
                            CEegTimeStamp end = CEegTimeStamp::NullStamp,
                            const char* comment = nullptr);
    // Copies every field; the override montage only when the source has one.
    CBookmarkEvent(const CBookmarkEvent& other);
    CBookmarkEvent& operator=(const CBookmarkEvent&) = delete;

    CEegTimeStamp GetEndStamp() const { return m_EndStamp; }
    // An end that is NullStamp or not after the start becomes start + 100 samples.
    void SetEndStamp(CEegTimeStamp end);

    // The setters store a value outside the setting's domain as its default.
    double GetLinkedHighCut() const { return m_dHighCut; }
    void SetLinkedHighCut(double hz);
    double GetLinkedLowCut() const { return m_dLowCut; }
    void SetLinkedLowCut(double hz);
    double GetLinkedSens() const { return m_dSensitivity; }
    void SetLinkedSens(double uvPerMm);
    double GetPaperSpeed() const { return m_dPaperSpeed; }
    void SetPaperSpeed(double mmPerS);

    // NULL when the montage has no channels.
    const CEegMontage* GetOverrideMontage() const;
    // Copies *montage; NULL takes every channel out of the montage, keeping its name.
    void SetOverrideMontage(const CEegMontage* montage);

    const char* GetComment() const { return m_strComment; }
    // NULL or "" gives an empty comment.
    void InitComment(const char* comment) { m_strComment = comment ? comment : ""; }

    // Same range, settings (exactly) and comment; the montages equal when the right
    // side has one, else the left side has none.
    bool operator==(const CBookmarkEvent& other) const;
    bool operator!=(const CBookmarkEvent& other) const { return !(*this == other); }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    CEegTimeStamp m_EndStamp;
    double m_dHighCut;
    double m_dLowCut;
    CEegMontage m_Montage;
    double m_dPaperSpeed;
    double m_dSensitivity;
    CString m_strComment;
};
