// Numbers of the host string-table texts that events show.
#pragma once

#include "Platform/Types.h"

namespace EventText {

enum : UINT {
    idBlock = 83,
    idCalibrationOn = 84,
    idCalibrationOff = 85,
    idFlashRate = 86,
    idFlashRunBStart = 87,   // flag B set, flag A set
    idFlashRunBEnd = 88,     // flag B set, flag A clear
    idFlashRun = 89,         // flag A set, no run number
    idFlashRunNumber = 90,   // flag A set, format with the 1-based run number
    idFlashStop = 91,        // both clear, no run number
    idFlashStopNumber = 92,  // both clear, with a run number
    idImpedance = 93,
    idLinkedHighcut = 94,
    idLinkedLowcut = 95,
    idLinkedSensitivity = 96,
    idMontage = 97,
    idNotchOn = 98,
    idNotchOff = 99,
    idRecordStart = 100,
    idRecordStartAt = 101,
    idRecordStopAt = 102,
    idRecordStop = 103,
    idRecordingRef = 104,
    idPaperSpeed = 105,
    idTimerOn = 106,
    idTimerOff = 107,
    idTraceInfo = 108,
    idDataDeletion = 109,
    idDeleteSegment = 110,
    idSaveSegment = 111,
    idVoice = 581,
    idKeyPress = 582,
    idBatteryLow = 1020,  // format with the voltage (double)
};

}  // namespace EventText
