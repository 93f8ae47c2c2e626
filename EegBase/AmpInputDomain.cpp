#include "EegBase/AmpInputDomain.h"

#include <algorithm>

#include "EegBase/BaseFormat.h"

CAmpInputDomain::CAmpInputDomain(const AmpInput::AmpInputType* jacks, int count) {
    for (int i = 0; jacks && i < count; ++i)
        Add(jacks[i]);
}

AmpInput::AmpInputType CAmpInputDomain::GetAt(int i) const {
    if (i < 0 || i >= GetSize())
        return AmpInput::NoInput;
    return m_inputs[static_cast<size_t>(i)];
}

int CAmpInputDomain::Find(AmpInput::AmpInputType input) const {
    auto it = std::find(m_inputs.begin(), m_inputs.end(), input);
    return it == m_inputs.end() ? -1 : static_cast<int>(it - m_inputs.begin());
}

BOOL CAmpInputDomain::Add(AmpInput::AmpInputType input) {
    if (!Accepts(input) || Contains(input))
        return FALSE;
    m_inputs.push_back(input);
    return TRUE;
}

CDcInputDomain CAmpInputDomain::GetDcDomain() const {
    CDcInputDomain dc;
    for (AmpInput::AmpInputType input : m_inputs)
        dc.Add(input);
    return dc;
}

CAmpInputDomain CAmpInputDomain::GetReplacedDomain() const {
    CAmpInputDomain out;
    out.SetNameTable(m_bNames, m_nNameWidth);
    for (AmpInput::AmpInputType input : m_inputs) {
        out.Add(AmpInput::IsDcInput(input) ? AmpInput::DcToJack(input) : input);
    }
    return out;
}

CAmpInputDomain CAmpInputDomain::GetDomainWithDc(const CDcInputDomain& dc) const {
    CAmpInputDomain out;
    out.SetNameTable(m_bNames, m_nNameWidth);
    for (AmpInput::AmpInputType input : m_inputs) {
        const AmpInput::AmpInputType dcInput = AmpInput::JackToDc(input);
        out.Add(dcInput != AmpInput::NoInput && dc.Contains(dcInput) ? dcInput : input);
    }
    return out;
}

CString CAmpInputDomain::GetJackName(AmpInput::AmpInputType input) const {
    if (!m_bNames)
        return CString();
    const char* name = AmpInput::GetName(input);
    return CString(name ? name : "");
}

CDcInputDomain::CDcInputDomain(const AmpInput::AmpInputType* dcInputs, int count) {
    for (int i = 0; dcInputs && i < count; ++i)
        Add(dcInputs[i]);
}

void CAmpInputDomain::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kAmpInputDomainVersion);
        StoreByteFlag(ar, m_bNames);
        ar << static_cast<int32_t>(m_nNameWidth);
        ar.WriteCount(static_cast<DWORD>(m_inputs.size()));
        for (AmpInput::AmpInputType input : m_inputs)
            StoreInput(ar, input);
        return;
    }
    LoadVersion(ar, kAmpInputDomainVersion);
    const bool names = LoadByteFlag(ar);
    int32_t width;
    ar >> width;
    const DWORD count = LoadCount(ar, kMaxSize);
    std::vector<AmpInput::AmpInputType> inputs;
    inputs.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        const AmpInput::AmpInputType input = LoadInput(ar, false);
        // Written domains hold distinct accepted codes only; anything else is damage.
        if (!Accepts(input) || std::find(inputs.begin(), inputs.end(), input) != inputs.end()) {
            ThrowBadSchema(ar);
        }
        inputs.push_back(input);
    }
    m_inputs = std::move(inputs);
    m_bNames = names;
    m_nNameWidth = width;
}

const CAmpInputDomain& GetDefaultActInputDomain() {
    static const CAmpInputDomain d = [] {
        CAmpInputDomain domain;
        for (int jack = 0; jack < AmpInput::kJackCount; ++jack) {
            domain.Add(static_cast<AmpInput::AmpInputType>(jack));
        }
        domain.SetNameTable(TRUE, 0);
        return domain;
    }();
    return d;
}

const CAmpInputDomain& GetDefaultRecRefDomain() {
    static const CAmpInputDomain d = [] {
        CAmpInputDomain domain;
        for (int jack = 0; jack < AmpInput::kJackCount; ++jack) {
            domain.Add(static_cast<AmpInput::AmpInputType>(jack));
        }
        domain.Add(AmpInput::CRef);
        domain.SetNameTable(TRUE, 4);
        return domain;
    }();
    return d;
}
