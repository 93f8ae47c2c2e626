// Windows integer types with the widths the stored formats were defined in.
// On Windows `long` and `DWORD` are 32 bits; on Linux `long` is 64, so the
// library uses these names (or <cstdint>) wherever a width is stored.
#pragma once

#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using BOOL = int;
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
