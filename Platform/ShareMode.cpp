#include "Platform/ShareMode.h"

#include <cerrno>
#include <fcntl.h>
#include <utility>

// How the emulation works, and the POSIX behaviour it relies on.
//
// Windows checks share modes when a file is opened: the open fails when it
// denies an access another open of the file has, or wants an access another
// open denies. POSIX has nothing of the kind, so every CFile open records what it
// has and what it denies as shared (read) locks on four bytes far beyond any real
// data, and then looks for the other opens' locks:
//
//     kBase + 0  has read        kBase + 2  denies read
//     kBase + 1  has write       kBase + 3  denies write
//     kBase + 4  held by a Remove in progress (serialises removers)
//
// An open wanting read conflicts with another's "denies read", one denying read
// with another's "has read", and likewise for write.
//
// The locks are open-file-description (OFD) locks, F_OFD_SETLK and F_OFD_GETLK:
//  - They belong to the open file description made by one open(), not to the
//    process. Two opens in one process therefore see each other as Windows
//    handles do, and closing some other descriptor of the same file does not
//    drop them (classic F_SETLK locks would vanish then: they belong to the
//    process, and any close of the file by it releases all of them).
//  - They go when the last descriptor of the description closes, or when the
//    process dies. A child made by fork() shares its parent's descriptions and
//    with them their locks.
//  - F_OFD_GETLK reports only locks of other descriptions; the caller's own locks
//    never conflict with it. It needs l_pid = 0.
//  - A read lock needs a descriptor open for reading, a write lock one open for
//    writing (else EBADF). CFile opens for writing with O_RDWR for that reason.
//  - The locks are advisory: only openers that go through CFile take part.
//
// Take first, then look: two opens racing each other each see the other's locks
// (both fail, conservatively) or one sees the other's, never neither, because
// each one's locks exist before it looks.
//
// Remove takes a write lock over all four bytes at once. It succeeds only when no
// other open holds any of them, and while held no open can record itself: an
// opener whose shared lock is refused knows a Remove is under way, waits for it
// and opens again, so it never keeps a descriptor on the file that was unlinked.

namespace ShareMode {
namespace {
enum Byte : off_t { hasRead = 0, hasWrite = 1, denyRead = 2, denyWrite = 3, remover = 4 };

int Fcntl(int fd, int cmd, struct flock& fl) {
    int r;
    do {
        r = ::fcntl(fd, cmd, &fl);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

struct flock Range(short type, off_t first, off_t count) {
    struct flock fl = {};  // l_pid 0, as OFD locks require
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kBase + first;
    fl.l_len = count;
    return fl;
}

// Sets busy when another open file description holds a lock on the byte.
int OtherHolds(int fd, Byte byte, bool& busy) {
    struct flock fl = Range(F_WRLCK, byte, 1);
    const int err = Fcntl(fd, F_OFD_GETLK, fl);
    busy = err == 0 && fl.l_type != F_UNLCK;
    return err;
}
}  // namespace

int Claim(int fd, const Access& access, bool record, Result& result) {
    result = Result::granted;
    const std::pair<bool, Byte> mine[] = {{access.read, hasRead},
                                          {access.write, hasWrite},
                                          {access.denyRead, denyRead},
                                          {access.denyWrite, denyWrite}};
    if (record) {
        for (const auto& [wanted, byte] : mine) {
            if (!wanted)
                continue;
            struct flock fl = Range(F_RDLCK, byte, 1);
            const int err = Fcntl(fd, F_OFD_SETLK, fl);
            // Only a Remove takes write locks on these bytes.
            if (err == EAGAIN || err == EACCES) {
                result = Result::removing;
                return 0;
            }
            if (err)
                return err;
        }
    }
    // Each of mine against the opposite byte of the others.
    const std::pair<bool, Byte> theirs[] = {{access.read, denyRead},
                                            {access.write, denyWrite},
                                            {access.denyRead, hasRead},
                                            {access.denyWrite, hasWrite}};
    for (const auto& [wanted, byte] : theirs) {
        if (!wanted)
            continue;
        bool busy = false;
        if (int err = OtherHolds(fd, byte, busy))
            return err;
        if (busy) {
            result = Result::conflict;
            return 0;
        }
    }
    return 0;
}

int OpenElsewhere(int fd, bool& elsewhere) {
    elsewhere = false;
    for (Byte byte : {hasRead, hasWrite}) {
        bool busy = false;
        if (int err = OtherHolds(fd, byte, busy))
            return err;
        elsewhere = elsewhere || busy;
    }
    return 0;
}

int WaitForRemover(int fd) {
    struct flock fl = Range(F_RDLCK, hasRead, 4);
    if (int err = Fcntl(fd, F_OFD_SETLKW, fl))
        return err;
    fl = Range(F_UNLCK, hasRead, 4);
    return Fcntl(fd, F_OFD_SETLK, fl);
}

int ClaimForRemove(int fd, bool& held) {
    held = false;
    // Removers wait for each other only for the moment one of them checks and
    // unlinks; the one that comes second then finds the file gone.
    struct flock fl = Range(F_WRLCK, remover, 1);
    if (int err = Fcntl(fd, F_OFD_SETLKW, fl))
        return err;
    fl = Range(F_WRLCK, hasRead, 4);
    const int err = Fcntl(fd, F_OFD_SETLK, fl);
    if (err == EAGAIN || err == EACCES) {
        held = true;
        return 0;
    }
    return err;
}

}  // namespace ShareMode
