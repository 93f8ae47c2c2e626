#include "Platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/FaultInjection.h"
#include "Platform/ShareMode.h"

static_assert(sizeof(off_t) == 8, "CFile needs 64-bit file offsets");

namespace {
using FaultInjection::Op;

// Reopenings after a concurrent Remove or replacement before an open gives up.
constexpr int kMaxAttempts = 100;

template <class F>
auto RetryEintr(F call) {
    decltype(call()) r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

[[noreturn]] void ThrowErrno(int err, const CString& path) {
    CFileException::ThrowOsError(err, path);
}

// Returns the errno to fail with when the fault hook is armed for op, else 0.
int Injected(Op op) {
    return FaultInjection::Check(op);
}

// Closes a descriptor when leaving the scope, unless released.
class FdGuard {
public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Sets same when path still names the file open on fd. Returns 0, or the errno
// of stat (ENOENT: the path names nothing any more).
int SamePath(const char* path, int fd, bool& same) {
    struct stat byPath, byFd;
    if (RetryEintr([&] { return ::stat(path, &byPath); }) != 0)
        return errno;
    if (::fstat(fd, &byFd) != 0)
        return errno;
    same = byPath.st_dev == byFd.st_dev && byPath.st_ino == byFd.st_ino;
    return 0;
}

bool IsReadOnly(const struct stat& st) {
    return (st.st_mode & 0222) == 0;
}

// Byte-range locks stay below the share bytes, and l_len 0 (to infinity) would
// reach them.
bool ValidLockRange(uint64_t position, uint64_t count) {
    const auto limit = static_cast<uint64_t>(ShareMode::kBase);
    return count > 0 && position < limit && count <= limit - position;
}

int SetByteLock(int fd, short type, uint64_t position, uint64_t count) {
    struct flock fl = {};  // l_pid 0, as OFD locks require
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(position);
    fl.l_len = static_cast<off_t>(count);
    return RetryEintr([&] { return ::fcntl(fd, F_OFD_SETLK, &fl); }) == 0 ? 0 : errno;
}
}  // namespace

CFile::CFile() = default;

CFile::CFile(const char* path, UINT openFlags) {
    CFileException error;
    if (!Open(path, openFlags, &error)) {
        throw new CFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
    }
}

CFile::~CFile() {
    if (m_hFile != hFileNull)
        Abort();
}

BOOL CFile::Open(const char* path, UINT openFlags, CFileException* error) {
    if (!path)
        path = "";
    if (m_hFile != hFileNull)
        Abort();
    m_strFileName = path;
    m_openFlags = openFlags;
    auto fail = [&](int cause, int err) {
        if (error) {
            error->m_cause = cause;
            error->m_lOsError = err;
            error->m_strFileName = path;
        }
        return FALSE;
    };
    auto failErrno = [&](int err) { return fail(CFileException::OsErrorToException(err), err); };
    if (int err = Injected(Op::Open))
        return failErrno(err);

    const UINT mode = openFlags & 3;
    const UINT share = openFlags & 0x70;
    if (mode == 3 || share > shareDenyNone)
        return fail(CFileException::generic, EINVAL);
    ShareMode::Access access;
    access.read = mode != modeWrite;
    access.write = mode != modeRead;
    // As the framework maps them, shareCompat and shareExclusive both deny all.
    access.denyRead = share != shareDenyWrite && share != shareDenyNone;
    access.denyWrite = share != shareDenyRead && share != shareDenyNone;
    const bool create = (openFlags & modeCreate) != 0;
    const bool truncate = create && !(openFlags & modeNoTruncate);
    // Truncation waits until the share check has passed, so it needs write access
    // to the descriptor too. Read and Write refuse what the mode does not grant.
    const bool writeFd = access.write || truncate;

    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        // Opened for reading as well, because recording the share mode takes
        // read locks, which need a descriptor open for reading.
        int flags = O_CLOEXEC | (writeFd ? O_RDWR : O_RDONLY) | (create ? O_CREAT : 0);
        int fd = RetryEintr([&] { return ::open(path, flags, 0666); });
        bool record = true;
        if (fd < 0 && errno == EACCES && mode == modeWrite) {
            // A file this user may write but not read: the open goes ahead, but
            // can only check the others' share modes, not record its own.
            flags = (flags & ~O_RDWR) | O_WRONLY;
            fd = RetryEintr([&] { return ::open(path, flags, 0666); });
            record = false;
        }
        if (fd < 0)
            return failErrno(errno);
        FdGuard guard(fd);

        struct stat st;
        if (::fstat(fd, &st) != 0)
            return failErrno(errno);
        if (S_ISDIR(st.st_mode))
            return failErrno(EISDIR);
        // The read-only attribute, which root would otherwise write through.
        if (writeFd && IsReadOnly(st))
            return failErrno(EACCES);

        ShareMode::Result result;
        if (int err = ShareMode::Claim(fd, access, record, result))
            return failErrno(err);
        if (result == ShareMode::Result::removing) {
            // Whatever the wait gives, the next attempt sees the outcome.
            (void)ShareMode::WaitForRemover(fd);
            continue;
        }
        // The file may have been unlinked or replaced between open() and the
        // claim: then open the path again, so as never to keep a descriptor on a
        // file that is no longer there.
        bool same = false;
        const int err = SamePath(path, fd, same);
        if (err == ENOENT || (err == 0 && !same))
            continue;
        if (err)
            return failErrno(err);
        if (result == ShareMode::Result::conflict)
            return fail(CFileException::sharingViolation, -1);

        if (truncate && RetryEintr([&] { return ::ftruncate(fd, 0); }) != 0) {
            return failErrno(errno);
        }
        m_hFile = guard.Release();
        return TRUE;
    }
    return fail(CFileException::sharingViolation, -1);
}

void CFile::Close() {
    if (m_hFile == hFileNull)
        return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    const int injected = Injected(Op::Close);
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    // Closing drops the share-mode and byte-range locks of this open.
    if (::close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno, m_strFileName);
    if (injected)
        ThrowErrno(injected, m_strFileName);
}

void CFile::Abort() {
    if (m_hFile == hFileNull)
        return;
    ::close(m_hFile);
    m_hFile = hFileNull;
}

uint64_t CFile::GetPosition() const {
    const off_t p = ::lseek(m_hFile, 0, SEEK_CUR);
    if (p < 0)
        ThrowErrno(errno, m_strFileName);
    return static_cast<uint64_t>(p);
}

uint64_t CFile::Seek(int64_t offset, UINT from) {
    if (int err = Injected(Op::Seek))
        ThrowErrno(err, m_strFileName);
    if (from > end)
        ThrowErrno(EINVAL, m_strFileName);
    const int whence = from == current ? SEEK_CUR : (from == end ? SEEK_END : SEEK_SET);
    const off_t p = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
    if (p < 0)
        ThrowErrno(errno, m_strFileName);
    return static_cast<uint64_t>(p);
}

uint64_t CFile::GetLength() const {
    struct stat st;
    if (::fstat(m_hFile, &st) != 0)
        ThrowErrno(errno, m_strFileName);
    return static_cast<uint64_t>(st.st_size);
}

void CFile::SetLength(uint64_t newLength) {
    if (int err = Injected(Op::SetLength))
        ThrowErrno(err, m_strFileName);
    if (RetryEintr([&] { return ::ftruncate(m_hFile, static_cast<off_t>(newLength)); }) != 0) {
        ThrowErrno(errno, m_strFileName);
    }
}

UINT CFile::Read(void* buffer, UINT count) {
    return ReadSome(buffer, count, -1);
}

UINT CFile::ReadAt(uint64_t position, void* buffer, UINT count) {
    return ReadSome(buffer, count, static_cast<int64_t>(position));
}

void CFile::Write(const void* buffer, UINT count) {
    WriteAll(buffer, count, -1);
}

void CFile::WriteAt(uint64_t position, const void* buffer, UINT count) {
    WriteAll(buffer, count, static_cast<int64_t>(position));
}

// position < 0: at and moving the file position; else pread from there.
UINT CFile::ReadSome(void* buffer, UINT count, int64_t position) {
    if (int err = Injected(Op::Read))
        ThrowErrno(err, m_strFileName);
    // A write-only open has a read-write descriptor (see Open).
    if ((m_openFlags & 3) == modeWrite)
        ThrowErrno(EBADF, m_strFileName);
    auto* out = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = position < 0 ? ::read(m_hFile, out + done, count - done)
                                       : ::pread(m_hFile, out + done, count - done,
                                                 static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno, m_strFileName);
        }
        if (n == 0)
            break;  // end of file
        done += static_cast<UINT>(n);
    }
    return done;
}

void CFile::WriteAll(const void* buffer, UINT count, int64_t position) {
    if (int err = Injected(Op::Write))
        ThrowErrno(err, m_strFileName);
    // A read-only open that truncated has a read-write descriptor (see Open).
    if ((m_openFlags & 3) == modeRead)
        ThrowErrno(EBADF, m_strFileName);
    const auto* in = static_cast<const char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = position < 0 ? ::write(m_hFile, in + done, count - done)
                                       : ::pwrite(m_hFile, in + done, count - done,
                                                  static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno, m_strFileName);
        }
        if (n == 0)
            ThrowErrno(ENOSPC, m_strFileName);
        done += static_cast<UINT>(n);
    }
}

void CFile::Flush() {
    if (m_hFile == hFileNull)
        return;
    if (int err = Injected(Op::Flush))
        ThrowErrno(err, m_strFileName);
    if (RetryEintr([&] { return ::fdatasync(m_hFile); }) != 0)
        ThrowErrno(errno, m_strFileName);
}

// Byte-range locks are OFD locks on the real bytes (see ShareMode.cpp for why
// not classic F_SETLK locks): each open of the file holds its own, two CFile
// objects exclude each other even in one process, and closing the file (or the
// death of its process) releases them. They need the file open for writing.
void CFile::LockRange(uint64_t position, uint64_t count) {
    if (!TryLockRange(position, count)) {
        AfxThrowFileException(CFileException::lockViolation, EAGAIN, m_strFileName);
    }
}

BOOL CFile::TryLockRange(uint64_t position, uint64_t count) {
    if (int err = Injected(Op::Lock))
        ThrowErrno(err, m_strFileName);
    if (!ValidLockRange(position, count)) {
        AfxThrowFileException(CFileException::generic, EINVAL, m_strFileName);
    }
    const int err = SetByteLock(m_hFile, F_WRLCK, position, count);
    if (err == 0)
        return TRUE;
    if (err == EAGAIN || err == EACCES)
        return FALSE;  // another open holds part of it
    ThrowErrno(err, m_strFileName);
}

BOOL CFile::IsRangeLockedByOthers(uint64_t position, uint64_t count) {
    if (int err = Injected(Op::Lock))
        ThrowErrno(err, m_strFileName);
    if (!ValidLockRange(position, count)) {
        AfxThrowFileException(CFileException::generic, EINVAL, m_strFileName);
    }
    // F_OFD_GETLK asks whether a write lock could be had; it does not check the
    // open's access, so a read-only open can ask about write locks.
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(position);
    fl.l_len = static_cast<off_t>(count);
    if (RetryEintr([&] { return ::fcntl(m_hFile, F_OFD_GETLK, &fl); }) != 0)
        ThrowErrno(errno, m_strFileName);
    return fl.l_type != F_UNLCK;
}

BOOL CFile::IsOpenElsewhere() {
    bool elsewhere = false;
    if (int err = ShareMode::OpenElsewhere(m_hFile, elsewhere))
        ThrowErrno(err, m_strFileName);
    return elsewhere;
}

void CFile::UnlockRange(uint64_t position, uint64_t count) {
    if (int err = Injected(Op::Lock))
        ThrowErrno(err, m_strFileName);
    if (!ValidLockRange(position, count)) {
        AfxThrowFileException(CFileException::generic, EINVAL, m_strFileName);
    }
    if (int err = SetByteLock(m_hFile, F_UNLCK, position, count))
        ThrowErrno(err, m_strFileName);
}

CString CFile::GetFileName() const {
    const int slash = m_strFileName.ReverseFind('/');
    return m_strFileName.Mid(slash + 1);
}

CString CFile::GetFileTitle() const {
    CString name = GetFileName();
    const int dot = name.ReverseFind('.');
    return dot < 0 ? name : name.Left(dot);
}

CString CFile::GetFilePath() const {
    return m_strFileName;
}

void CFile::SetFilePath(const char* path) {
    m_strFileName = path;
}

BOOL CFile::GetStatus(const char* path, CFileStatus& status) {
    struct stat st;
    if (!path || RetryEintr([&] { return ::stat(path, &st); }) != 0)
        return FALSE;
    status.m_mtime = st.st_mtime;
    status.m_size = static_cast<uint64_t>(st.st_size);
    status.m_attribute = normal;
    if (IsReadOnly(st))
        status.m_attribute |= readOnly;
    if (S_ISDIR(st.st_mode))
        status.m_attribute |= directory;
    status.m_szFullName = path;
    return TRUE;
}

void CFile::SetReadOnly(const char* path, bool readOnlyFlag) {
    if (!path)
        path = "";
    struct stat st;
    if (RetryEintr([&] { return ::stat(path, &st); }) != 0)
        ThrowErrno(errno, path);
    mode_t mode = st.st_mode & 07777;
    mode = readOnlyFlag ? (mode & ~0222) : (mode | 0200);
    if (RetryEintr([&] { return ::chmod(path, mode); }) != 0)
        ThrowErrno(errno, path);
}

void CFile::Remove(const char* path) {
    if (!path)
        path = "";
    if (int err = Injected(Op::Remove))
        ThrowErrno(err, path);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        // Opened for writing, because the deny-all claim takes write locks. A
        // directory fails here with EISDIR, as Windows refuses it (access denied).
        const int fd = RetryEintr([&] { return ::open(path, O_WRONLY | O_CLOEXEC); });
        if (fd < 0)
            ThrowErrno(errno, path);
        FdGuard guard(fd);  // its close, after the unlink, lets waiting openers go on

        struct stat st;
        if (::fstat(fd, &st) != 0)
            ThrowErrno(errno, path);
        // Windows does not delete a read-only file either.
        if (IsReadOnly(st))
            ThrowErrno(EACCES, path);
        bool held = false;
        if (int err = ShareMode::ClaimForRemove(fd, held))
            ThrowErrno(err, path);
        if (held)
            AfxThrowFileException(CFileException::sharingViolation, -1, path);
        // Another Remove may have unlinked the file while this one waited, or the
        // path may name a new file now.
        bool same = false;
        if (int err = SamePath(path, fd, same))
            ThrowErrno(err, path);
        if (!same)
            continue;
        // Unlinked while holding the claim: an opener that opened the old file
        // meanwhile cannot record itself until the claim goes, and then finds
        // the path no longer naming its file. (A rename over the path between
        // the check above and the unlink is not covered: renames take no claim.)
        if (RetryEintr([&] { return ::unlink(path); }) != 0)
            ThrowErrno(errno, path);
        return;
    }
    AfxThrowFileException(CFileException::sharingViolation, -1, path);
}

void CFile::FlushFolderOf(const char* path) {
    if (!path)
        path = "";
    std::string folder(path);
    const size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? std::string(".")
                                        : (slash == 0 ? std::string("/") : folder.substr(0, slash));
    if (int err = Injected(Op::Flush))
        ThrowErrno(err, folder.c_str());
    const int fd =
        RetryEintr([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0)
        ThrowErrno(errno, folder.c_str());
    const int synced = RetryEintr([&] { return ::fsync(fd); });
    const int error = errno;
    ::close(fd);
    if (synced != 0)
        ThrowErrno(error, folder.c_str());
}

void CFile::Rename(const char* oldPath, const char* newPath) {
    if (!oldPath)
        oldPath = "";
    if (!newPath)
        newPath = "";
    if (int err = Injected(Op::Rename))
        ThrowErrno(err, oldPath);
    if (RetryEintr([&] { return ::rename(oldPath, newPath); }) != 0)
        ThrowErrno(errno, oldPath);
}
