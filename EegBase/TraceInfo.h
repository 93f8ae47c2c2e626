// CTraceInfo: one trace of a montage: its label, the active and reference inputs
// whose difference it shows, its display sensitivity and filters, whether it
// follows the linked (montage-wide) settings, and its colour code.
#pragma once

#include "EegBase/AmpInput.h"
#include "Platform/Object.h"
#include "Platform/String.h"

class CTraceInfo : public CObject {
public:
    // No inputs, no label, the default sensitivity and filters, linked, colour 0.
    CTraceInfo();
    CTraceInfo(const char* label, AmpInput::AmpInputType actInput, AmpInput::AmpInputType refInput);

    const CString& GetLabel() const { return m_strLabel; }
    void SetLabel(const char* label) { m_strLabel = label; }

    AmpInput::AmpInputType GetActInput() const { return m_actInput; }
    AmpInput::AmpInputType GetRefInput() const { return m_refInput; }
    // Accept an input code or -1 (no input); any other value is refused (FALSE) and
    // the trace keeps its input. Setting the active input also sets the AC flag.
    BOOL SetActInput(AmpInput::AmpInputType input);
    BOOL SetRefInput(AmpInput::AmpInputType input);
    // Whether the trace shows a channel at all (its active input is set).
    BOOL HasActInput() const { return m_actInput != AmpInput::NoInput; }

    // 1 while the active input is an AC jack (0-31); 0 for a DC input or none. The
    // legacy log chooses between its colour words and its "uncolour" words by it.
    int GetAcFlag() const { return m_nAcFlag; }

    double GetSensitivity() const { return m_dSensitivity; }  // uV/mm
    void SetSensitivity(double v) { m_dSensitivity = v; }
    double GetHighCut() const { return m_dHighCut; }  // Hz, 0 = off
    void SetHighCut(double v) { m_dHighCut = v; }
    double GetLowCut() const { return m_dLowCut; }  // Hz
    void SetLowCut(double v) { m_dLowCut = v; }

    int GetLinkedFlag() const { return m_nLinked; }
    void SetLinkedFlag(int linked) { m_nLinked = linked; }
    int GetColor() const { return m_nColor; }
    void SetColor(int color) { m_nColor = color; }

    void Serialize(CArchive& ar) override;

    // Every field equal (doubles exactly).
    bool operator==(const CTraceInfo& other) const;
    bool operator!=(const CTraceInfo& other) const { return !(*this == other); }

private:
    CString m_strLabel;
    AmpInput::AmpInputType m_actInput = AmpInput::NoInput;
    AmpInput::AmpInputType m_refInput = AmpInput::NoInput;
    int m_nAcFlag = 0;
    double m_dSensitivity;
    double m_dHighCut;
    double m_dLowCut;
    int m_nLinked = 1;
    int m_nColor = 0;
};
