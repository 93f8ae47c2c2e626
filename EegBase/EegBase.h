// The whole base library: montages, traces, amplifier description and inputs,
// impedances, patient record, sample chunks, value domains, engine settings and
// the exception report helper.
#pragma once

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/AmpInput.h"
#include "EegBase/AmpInputDomain.h"
#include "EegBase/AverageReference.h"
#include "EegBase/DomainEnum.h"
#include "EegBase/EegDataChunk.h"
#include "EegBase/EegEngineCfg.h"
#include "EegBase/EegMontage.h"
#include "EegBase/ImpedanceValues.h"
#include "EegBase/PatientInfo.h"
#include "EegBase/ReportExceptionOperation.h"
#include "EegBase/TraceInfo.h"
#include "EegBase/ValueDomain.h"
