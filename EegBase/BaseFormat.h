// Stored layout of the base library's records, in one place for reader and writer.
//
// Every record opens with one 16-bit version word, the record's version XOR
// kVersionMask, like every record of the recording format. A version newer than
// the reader knows is refused with the archive's bad-schema exception. Counts use
// the archive's count encoding and are checked against their limit before anything
// is allocated for them; input codes are checked to be codes of AmpInput. Values
// are the archive's little-endian encoding (int 4 bytes, double 8, strings with
// their length prefix).
//
//   CTraceInfo        v0: version; label (string); active input (4); reference
//                         input (4); sensitivity (8); high cut (8); low cut (8);
//                         linked flag (4); colour code (4)
//   CAverageReference v0: version; name (string); input count (count, at most 52);
//                         each input (4), distinct codes 0-51
//   CEegMontage       v0: version; name (string); trace count (count, at most 32);
//                         each trace's record; average reference present (1 byte,
//                         0 or 1); when present the average reference's record
//   CAmpInputDomain   v0: version; name table used (1 byte, 0 or 1); name width (4);
//                         input count (count, at most 52); each input (4), distinct
//                         codes 0-51 (a DC domain: DC inputs only)
//   CAmpHardwareInfo  v0: version; amplifier type (4); act/ref can use common (4);
//                         maximum high cut (8); minimum low cut (8); gain count
//                         (count, at most 32); each gain (8); stored-input domain;
//                         reference-input domain; DC domain (their own records)
//   CImpedanceValues  v0: version; value count (count, at most 42); each value (8)
//   CPatientInfo      v0: version; the text fields in CPatientInfo::TextField order
//                         (strings); birth date (8) and its status (4); sex (4);
//                         record status (4); record date (8) and its status (4);
//                         Qm synchronised flag (4)
#pragma once

#include "EegBase/AmpInput.h"
#include "Platform/Archive.h"

namespace BaseFormat {

constexpr WORD kVersionMask = 0x5A5A;

constexpr WORD kTraceInfoVersion = 0;
constexpr WORD kAverageReferenceVersion = 0;
constexpr WORD kMontageVersion = 0;
constexpr WORD kAmpInputDomainVersion = 0;
constexpr WORD kAmpHardwareInfoVersion = 0;
constexpr WORD kImpedanceValuesVersion = 0;
constexpr WORD kPatientInfoVersion = 0;

void StoreVersion(CArchive& ar, WORD version);
// Reads a version word; a version above newest throws badSchema.
WORD LoadVersion(CArchive& ar, WORD newest);

[[noreturn]] void ThrowBadSchema(const CArchive& ar);

// Reads a count; one above limit throws badSchema.
DWORD LoadCount(CArchive& ar, DWORD limit);

// A flag stored as one byte; anything but 0 or 1 throws badSchema.
void StoreByteFlag(CArchive& ar, bool flag);
bool LoadByteFlag(CArchive& ar);

// An input code stored as 4 bytes; a value that is not a code of AmpInput (or -1
// when allowNone) throws badSchema.
void StoreInput(CArchive& ar, AmpInput::AmpInputType input);
AmpInput::AmpInputType LoadInput(CArchive& ar, bool allowNone);

}  // namespace BaseFormat
