#include "EegBase/BaseFormat.h"

#include "Platform/Exception.h"

namespace BaseFormat {

void StoreVersion(CArchive& ar, WORD version) {
    ar << static_cast<WORD>(version ^ kVersionMask);
}

WORD LoadVersion(CArchive& ar, WORD newest) {
    WORD word;
    ar >> word;
    const WORD version = static_cast<WORD>(word ^ kVersionMask);
    if (version > newest)
        ThrowBadSchema(ar);
    return version;
}

void ThrowBadSchema(const CArchive& ar) {
    AfxThrowArchiveException(CArchiveException::badSchema, ar.m_strFileName);
}

DWORD LoadCount(CArchive& ar, DWORD limit) {
    const DWORD count = ar.ReadCount();
    if (count > limit)
        ThrowBadSchema(ar);
    return count;
}

void StoreByteFlag(CArchive& ar, bool flag) {
    ar << static_cast<BYTE>(flag ? 1 : 0);
}

bool LoadByteFlag(CArchive& ar) {
    BYTE b;
    ar >> b;
    if (b > 1)
        ThrowBadSchema(ar);
    return b == 1;
}

void StoreInput(CArchive& ar, AmpInput::AmpInputType input) {
    ar << static_cast<int32_t>(input);
}

AmpInput::AmpInputType LoadInput(CArchive& ar, bool allowNone) {
    int32_t code;
    ar >> code;
    if (!AmpInput::IsInput(code) && !(allowNone && code == AmpInput::NoInput))
        ThrowBadSchema(ar);
    return static_cast<AmpInput::AmpInputType>(code);
}

}  // namespace BaseFormat
