// CAmpInputDomain: an ordered set of distinct amplifier inputs, such as the inputs
// an amplifier stores or those it allows as recording reference. A domain may
// carry the standard input labels (AmpInput::GetName) as its name table, with a
// width for showing them: 0 as they are, w > 0 right-justified in w characters,
// w < 0 left-justified in -w.
//
// CDcInputDomain: a domain of DC inputs only (DC1-DC8). A DC input is recorded in
// place of the jack it replaces (DC1 for 1A ... DC8 for 8A).
#pragma once

#include <vector>

#include "EegBase/AmpInput.h"
#include "Platform/Object.h"
#include "Platform/String.h"

class CDcInputDomain;

class CAmpInputDomain : public CObject {
public:
    static constexpr int kMaxSize = AmpInput::kInputCount;

    // Empty, without a name table.
    CAmpInputDomain() = default;
    // The inputs of jacks[0 .. count-1] that the domain accepts, in order, each once
    // (jacks may be NULL when count is 0).
    CAmpInputDomain(const AmpInput::AmpInputType* jacks, int count);

    int GetSize() const { return static_cast<int>(m_inputs.size()); }
    // NoInput outside 0 .. GetSize()-1.
    AmpInput::AmpInputType GetAt(int i) const;
    // Position of input in the domain, -1 when absent.
    int Find(AmpInput::AmpInputType input) const;
    BOOL Contains(AmpInput::AmpInputType input) const { return Find(input) >= 0; }
    // Appends input; FALSE when the domain does not accept it or already holds it.
    BOOL Add(AmpInput::AmpInputType input);
    void RemoveAll() { m_inputs.clear(); }

    // The DC inputs of this domain, in order.
    CDcInputDomain GetDcDomain() const;
    // This domain with every DC input replaced by the jack it replaces; on a DC
    // domain, the jacks its inputs replace. The name table is kept.
    CAmpInputDomain GetReplacedDomain() const;
    // This domain with every jack that an input of dc replaces given as that DC input.
    CAmpInputDomain GetDomainWithDc(const CDcInputDomain& dc) const;
    // The jack a DC input replaces; NoInput for any other code.
    static AmpInput::AmpInputType GetJackFromDC(AmpInput::AmpInputType dcInput) {
        return AmpInput::DcToJack(dcInput);
    }

    BOOL HasNameTable() const { return m_bNames; }
    int GetNameWidth() const { return m_nNameWidth; }
    void SetNameTable(BOOL useNames, int width) {
        m_bNames = useNames != FALSE;
        m_nNameWidth = width;
    }
    // The input's label when the domain has a name table, else "".
    CString GetJackName(AmpInput::AmpInputType input) const;

    void Serialize(CArchive& ar) override;

    // Same inputs in the same order, same name table and width.
    bool operator==(const CAmpInputDomain& other) const {
        return m_inputs == other.m_inputs && m_bNames == other.m_bNames &&
               m_nNameWidth == other.m_nNameWidth;
    }
    bool operator!=(const CAmpInputDomain& other) const { return !(*this == other); }

protected:
    // Which codes the domain may hold: any input code here, DC inputs for a DC domain.
    virtual bool Accepts(int code) const { return AmpInput::IsInput(code); }

private:
    std::vector<AmpInput::AmpInputType> m_inputs;
    bool m_bNames = false;
    int m_nNameWidth = 0;
};

class CDcInputDomain : public CAmpInputDomain {
public:
    CDcInputDomain() = default;
    // The DC inputs among dcInputs[0 .. count-1], in order, each once.
    CDcInputDomain(const AmpInput::AmpInputType* dcInputs, int count);

protected:
    bool Accepts(int code) const override { return AmpInput::IsDcInput(code); }
};

// All 32 jacks 0-31 with the standard labels.
const CAmpInputDomain& GetDefaultActInputDomain();
// The inputs that can serve as recording reference: jacks 0-31 and CRef (33 inputs),
// with the standard labels shown right-justified in 4 characters.
const CAmpInputDomain& GetDefaultRecRefDomain();
