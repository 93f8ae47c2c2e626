// CAverageReference: a named set of inputs whose mean a montage can use as the
// reference of its traces. The members are distinct input codes in the order given.
#pragma once

#include <vector>

#include "EegBase/AmpInput.h"
#include "Platform/Object.h"
#include "Platform/String.h"

class CAverageReference : public CObject {
public:
    static constexpr int kMaxInputs = AmpInput::kInputCount;

    // No members, named "AvgRef".
    CAverageReference();
    // The members are inputs[0 .. count-1]; values that are not input codes and
    // repeated codes are left out. inputs may be NULL when count is 0.
    CAverageReference(const AmpInput::AmpInputType* inputs, int count, const char* name = "AvgRef");

    const CString& GetName() const { return m_strName; }
    void SetName(const char* name) { m_strName = name; }

    int GetInputCount() const { return static_cast<int>(m_inputs.size()); }
    // NoInput outside 0 .. GetInputCount()-1.
    AmpInput::AmpInputType GetInput(int i) const;
    BOOL Contains(AmpInput::AmpInputType input) const;

    void Serialize(CArchive& ar) override;

    bool operator==(const CAverageReference& other) const {
        return m_strName == other.m_strName && m_inputs == other.m_inputs;
    }
    bool operator!=(const CAverageReference& other) const { return !(*this == other); }

private:
    // FALSE when input is not an input code or is already a member.
    bool AddInput(AmpInput::AmpInputType input);

    CString m_strName;
    std::vector<AmpInput::AmpInputType> m_inputs;
};
