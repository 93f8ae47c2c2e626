// The stations that have a recording open, as its control file lists them.
#pragma once

#include <cstdint>

#include "EegFile/frame/EegEnums.h"
#include "Platform/Arrays.h"
#include "Platform/String.h"

struct CEegStationEntry {
    CString m_Name;        // the station's computer name
    int32_t m_Number = 0;  // numbers one station's openings of the recording: 1, 2, ...
    CEegAccessMode::EegAccessModeType m_Mode = CEegAccessMode::eamRead;
};

class CEegStationList : public CArray<CEegStationEntry> {};
