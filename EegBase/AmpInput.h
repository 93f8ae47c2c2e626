// AmpInput: the amplifier's input codes, as recordings store them (4-byte integers).
// Codes 0-31 are the amplifier's jacks, and each is also the channel slot that
// carries its samples; the others are the ground, the common and per-pair
// reference inputs, the DC inputs (each recorded in place of the jack 1A-8A it
// replaces), and the two references a montage can name. -1 means no input.
#pragma once

#include <cstdint>

#include "EegBase/DomainEnum.h"

namespace AmpInput {

enum AmpInputType : int32_t {
    NoInput = -1,
    Fp1 = 0,
    Fpz,
    Fp2,
    F7,
    F3,
    Fz,
    F4,
    F8,
    A1,
    T3,
    C3,
    Cz,
    C4,
    T4,
    A2,
    T5,
    P3,
    Pz,
    P4,
    T6,
    O1,
    Oz,
    O2,
    Aux,
    In1A,  // 24: 1A, the first of the inputs that can be recorded as act/ref pairs
    In2A,
    In3A,
    In4A,
    In5A,
    In6A,
    In7A,
    In8A,  // 31
    Gnd,   // 32
    CRef,  // 33: the amplifier's common reference
    In1R,  // 34: 1R ... 8R, the reference side of the pairs
    In2R,
    In3R,
    In4R,
    In5R,
    In6R,
    In7R,
    In8R,  // 41
    DC1,   // 42: DC1 ... DC8 replace 1A ... 8A
    DC2,
    DC3,
    DC4,
    DC5,
    DC6,
    DC7,
    DC8,     // 49
    Ref,     // 50: the recording reference, as a montage names it
    AvgRef,  // 51: the montage's average reference
};

constexpr int kJackCount = 32;   // codes 0-31, one channel slot each
constexpr int kInputCount = 52;  // codes 0-51
constexpr int kDcCount = 8;

constexpr bool IsInput(int code) {
    return code >= 0 && code < kInputCount;
}
constexpr bool IsJack(int code) {
    return code >= Fp1 && code <= In8A;
}
constexpr bool IsDcInput(int code) {
    return code >= DC1 && code <= DC8;
}
// The jacks 1A-8A, which can be recorded as an act/ref pair or against the common reference.
constexpr bool IsPairJack(int code) {
    return code >= In1A && code <= In8A;
}

// The jack a DC input replaces (DC1 -> 1A ... DC8 -> 8A); NoInput for any other code.
constexpr AmpInputType DcToJack(int code) {
    return IsDcInput(code) ? static_cast<AmpInputType>(In1A + (code - DC1)) : NoInput;
}
// The DC input that replaces a jack 1A-8A; NoInput for any other code.
constexpr AmpInputType JackToDc(int code) {
    return IsPairJack(code) ? static_cast<AmpInputType>(DC1 + (code - In1A)) : NoInput;
}

// The input's label: "Fp1" ... "Aux", "1A" ... "8A", "Gnd", "CRef", "1R" ... "8R",
// "DC1" ... "DC8", "Ref", "AvgRef"; nullptr for a value that is not an input code.
const char* GetName(int code);

// Every input code with its label, in code order.
const CDomainEnum<AmpInputType>& GetNameTable();

}  // namespace AmpInput
