#include "EegBase/AmpInput.h"

namespace AmpInput {

namespace {
const char* const kNames[kInputCount] = {
    "Fp1", "Fpz", "Fp2", "F7",  "F3",  "Fz",  "F4",  "F8",   "A1",  "T3",  "C3",  "Cz",  "C4",
    "T4",  "A2",  "T5",  "P3",  "Pz",  "P4",  "T6",  "O1",   "Oz",  "O2",  "Aux", "1A",  "2A",
    "3A",  "4A",  "5A",  "6A",  "7A",  "8A",  "Gnd", "CRef", "1R",  "2R",  "3R",  "4R",  "5R",
    "6R",  "7R",  "8R",  "DC1", "DC2", "DC3", "DC4", "DC5",  "DC6", "DC7", "DC8", "Ref", "AvgRef",
};
}  // namespace

const char* GetName(int code) {
    return IsInput(code) ? kNames[code] : nullptr;
}

const CDomainEnum<AmpInputType>& GetNameTable() {
    static const CDomainEnum<AmpInputType> table = [] {
        CDomainEnum<AmpInputType> t;
        for (int code = 0; code < kInputCount; ++code) {
            t.Add(static_cast<AmpInputType>(code), kNames[code]);
        }
        return t;
    }();
    return table;
}

}  // namespace AmpInput
