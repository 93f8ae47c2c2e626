// Windows share modes for CFile, emulated with open-file-description locks on
// bytes far beyond any real data (see ShareMode.cpp for how the locks behave).
// Used by CFile only.
#pragma once

#include <sys/types.h>

namespace ShareMode {

// The first of the share bytes. Real data and byte-range locks stay below it.
constexpr off_t kBase = off_t{1} << 62;

// What one open of a file does, and what it denies to the other opens.
struct Access {
    bool read = false;
    bool write = false;
    bool denyRead = false;
    bool denyWrite = false;
};

enum class Result {
    granted,
    conflict,  // another open denies what this one wants, or wants what it denies
    removing,  // a Remove holds the file: wait for it (WaitForRemover), then open again
};

// Records access on fd, then looks at the other opens of the file. With record
// false (fd not open for reading, so it cannot take the shared locks) it only
// looks. Returns 0 and sets result, or the errno of a failed lock call.
int Claim(int fd, const Access& access, bool record, Result& result);

// Sets elsewhere when another open of the file (through CFile) has it, by
// asking about the others' "has read" and "has write" bytes; takes nothing.
// Returns 0 or an errno.
int OpenElsewhere(int fd, bool& elsewhere);

// Blocks until no Remove holds the file; fd must be open for reading. Drops the
// locks fd holds on the share bytes. Returns 0 or an errno.
int WaitForRemover(int fd);

// For Remove, on fd open for writing: waits for any other Remove of the file,
// then takes every share byte exclusively; held = true (and nothing taken but the
// remover byte) when another open holds the file. The locks last until fd closes.
// Returns 0 or an errno.
int ClaimForRemove(int fd, bool& held);

}  // namespace ShareMode
