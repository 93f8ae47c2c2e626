#include "EegBase/AverageReference.h"

#include <algorithm>

#include "EegBase/BaseFormat.h"

CAverageReference::CAverageReference() : m_strName("AvgRef") {}

CAverageReference::CAverageReference(const AmpInput::AmpInputType* inputs, int count,
                                     const char* name)
    : m_strName(name) {
    for (int i = 0; inputs && i < count; ++i)
        AddInput(inputs[i]);
}

bool CAverageReference::AddInput(AmpInput::AmpInputType input) {
    if (!AmpInput::IsInput(input) || Contains(input))
        return false;
    m_inputs.push_back(input);
    return true;
}

AmpInput::AmpInputType CAverageReference::GetInput(int i) const {
    if (i < 0 || i >= GetInputCount())
        return AmpInput::NoInput;
    return m_inputs[static_cast<size_t>(i)];
}

BOOL CAverageReference::Contains(AmpInput::AmpInputType input) const {
    return std::find(m_inputs.begin(), m_inputs.end(), input) != m_inputs.end();
}

void CAverageReference::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kAverageReferenceVersion);
        ar << m_strName;
        ar.WriteCount(static_cast<DWORD>(m_inputs.size()));
        for (AmpInput::AmpInputType input : m_inputs)
            StoreInput(ar, input);
        return;
    }
    LoadVersion(ar, kAverageReferenceVersion);
    CAverageReference loaded;
    ar >> loaded.m_strName;
    const DWORD count = LoadCount(ar, kMaxInputs);
    for (DWORD i = 0; i < count; ++i) {
        // Members are distinct when written; a repeat means the record is damaged.
        if (!loaded.AddInput(LoadInput(ar, false)))
            ThrowBadSchema(ar);
    }
    *this = loaded;
}
