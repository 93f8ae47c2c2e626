// The legacy log's names of amplifier inputs: four ordered tables of (value,
// label) pairs, and the conversions between labels and input codes.
//
//   active inputs     jacks 0-31, then DC1-DC8 (42-49)           stored inputs, gains,
//                                                                 DC inputs, trace actives
//   reference inputs  jacks 0-31, then Ref (50) and AvgRef (51)  trace references,
//                                                                 reference lists
//   stored-input out  jacks 0-31, DC1-DC7, "DC8Ref", "AvgRef",    (kept as the format
//                     and one entry without a name                 defines it)
//   impedance         positions 0-41: the jacks, 1R-8R, CRef, Gnd  impedance lines
#pragma once

#include <string_view>

#include "EegBase/AmpInput.h"
#include "EegBase/DomainEnum.h"
#include "Platform/String.h"

namespace DosInputNames {

using Table = CDomainEnum<AmpInput::AmpInputType>;

const Table& ActiveInputs();
const Table& ReferenceInputs();
const Table& StoredInputOutput();
// Values are impedance positions 0-41, not input codes.
const CDomainEnum<int>& ImpedanceInputs();

// The code of the first label equal to text (both trimmed of blanks, CRs and LFs,
// compared without regard to case), checked back against the code's own label;
// -1 (NoInput) for an unknown text.
template <class T>
T ConvertTextToInput(std::string_view text, const CDomainEnum<T>& table);

// The code's label in the table; a code the table does not hold as its number.
CString InputToText(int code, const Table& table);

// Impedance positions 0-31 are jacks 0-31, 32-39 are 1R-8R (34-41), 40 is CRef
// (33) and 41 Gnd (32); -1 outside 0-41 and for codes without a position.
AmpInput::AmpInputType ImpedancePositionToInput(int position);
int InputToImpedancePosition(AmpInput::AmpInputType input);
constexpr int kImpedancePositions = 42;
constexpr int kImpedanceCRefPosition = 40;

}  // namespace DosInputNames
