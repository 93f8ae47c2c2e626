// The vectorised second coders of this build, for DeltaCoding.cpp only: each is
// null where the build left it out, and must not run on a processor without its
// instruction set (DeltaCoding::AvailableCoders checks that).
#pragma once

#include "EegFile/frame/DeltaCoding.h"

namespace DeltaCoding {

const SecondCoder* Sse2Coder();
const SecondCoder* Avx2Coder();

}  // namespace DeltaCoding
