#include "Platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/FaultInjection.h"

namespace {
int RetryEintr(auto call) {
    int r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

[[noreturn]] void ThrowErrno(int err, const CString& path) {
    CFileException::ThrowOsError(err, path);
}

// Returns the errno to fail with when the fault hook is armed for op, else 0.
int Injected(FaultInjection::Op op) { return FaultInjection::Check(op); }
}  // namespace

CFile::CFile() = default;

CFile::CFile(const char* path, UINT openFlags) {
    CFileException error;
    if (!Open(path, openFlags, &error)) {
        throw new CFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
    }
}

CFile::~CFile() {
    if (m_hFile != hFileNull) Abort();
}

BOOL CFile::Open(const char* path, UINT openFlags, CFileException* error) {
    auto fail = [&](int err) {
        if (error) {
            error->m_cause = CFileException::OsErrorToException(err);
            error->m_lOsError = err;
            error->m_strFileName = path;
        }
        return FALSE;
    };
    if (m_hFile != hFileNull) Abort();
    m_strFileName = path;
    m_openFlags = openFlags;
    if (int err = Injected(FaultInjection::Op::Open)) return fail(err);

    int flags = O_CLOEXEC;
    switch (openFlags & 3) {
        case modeRead: flags |= O_RDONLY; break;
        case modeWrite: flags |= O_WRONLY; break;
        default: flags |= O_RDWR; break;
    }
    if (openFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(openFlags & modeNoTruncate)) flags |= O_TRUNC;
    }
    const int fd = RetryEintr([&] { return ::open(path, flags, 0666); });
    if (fd < 0) return fail(errno);
    m_hFile = fd;
    return TRUE;
}

void CFile::Close() {
    if (m_hFile == hFileNull) return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    // close() is not retried on EINTR: the descriptor is gone either way on Linux.
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno, m_strFileName);
}

void CFile::Abort() {
    if (m_hFile == hFileNull) return;
    ::close(m_hFile);
    m_hFile = hFileNull;
}

uint64_t CFile::GetPosition() const {
    const off_t p = ::lseek(m_hFile, 0, SEEK_CUR);
    if (p < 0) ThrowErrno(errno, m_strFileName);
    return static_cast<uint64_t>(p);
}

uint64_t CFile::Seek(int64_t offset, UINT from) {
    if (int err = Injected(FaultInjection::Op::Seek)) ThrowErrno(err, m_strFileName);
    const int whence = from == current ? SEEK_CUR : (from == end ? SEEK_END : SEEK_SET);
    const off_t p = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
    if (p < 0) ThrowErrno(errno, m_strFileName);
    return static_cast<uint64_t>(p);
}

uint64_t CFile::GetLength() const {
    struct stat st;
    if (::fstat(m_hFile, &st) != 0) ThrowErrno(errno, m_strFileName);
    return static_cast<uint64_t>(st.st_size);
}

void CFile::SetLength(uint64_t newLength) {
    if (int err = Injected(FaultInjection::Op::SetLength)) ThrowErrno(err, m_strFileName);
    if (RetryEintr([&] { return ::ftruncate(m_hFile, static_cast<off_t>(newLength)); }) != 0) {
        ThrowErrno(errno, m_strFileName);
    }
}

UINT CFile::Read(void* buffer, UINT count) {
    if (int err = Injected(FaultInjection::Op::Read)) ThrowErrno(err, m_strFileName);
    auto* out = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_hFile, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, m_strFileName);
        }
        if (n == 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

void CFile::Write(const void* buffer, UINT count) {
    if (int err = Injected(FaultInjection::Op::Write)) ThrowErrno(err, m_strFileName);
    const auto* in = static_cast<const char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_hFile, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, m_strFileName);
        }
        if (n == 0) ThrowErrno(ENOSPC, m_strFileName);
        done += static_cast<UINT>(n);
    }
}

void CFile::Flush() {
    if (m_hFile == hFileNull) return;
    if (int err = Injected(FaultInjection::Op::Flush)) ThrowErrno(err, m_strFileName);
    if (RetryEintr([&] { return ::fdatasync(m_hFile); }) != 0) ThrowErrno(errno, m_strFileName);
}

void CFile::LockRange(uint64_t position, uint64_t count) {
    if (!TryLockRange(position, count)) {
        AfxThrowFileException(CFileException::lockViolation, EAGAIN, m_strFileName);
    }
}

BOOL CFile::TryLockRange(uint64_t position, uint64_t count) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(position);
    fl.l_len = static_cast<off_t>(count);
    if (RetryEintr([&] { return ::fcntl(m_hFile, F_OFD_SETLK, &fl); }) == 0) return TRUE;
    if (errno == EAGAIN || errno == EACCES) return FALSE;
    ThrowErrno(errno, m_strFileName);
}

void CFile::UnlockRange(uint64_t position, uint64_t count) {
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(position);
    fl.l_len = static_cast<off_t>(count);
    if (RetryEintr([&] { return ::fcntl(m_hFile, F_OFD_SETLK, &fl); }) != 0) {
        ThrowErrno(errno, m_strFileName);
    }
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

CString CFile::GetFilePath() const { return m_strFileName; }

void CFile::SetFilePath(const char* path) { m_strFileName = path; }

BOOL CFile::GetStatus(const char* path, CFileStatus& status) {
    struct stat st;
    if (::stat(path, &st) != 0) return FALSE;
    status.m_mtime = st.st_mtime;
    status.m_size = static_cast<uint64_t>(st.st_size);
    status.m_attribute = normal;
    if ((st.st_mode & 0222) == 0) status.m_attribute |= readOnly;
    if (S_ISDIR(st.st_mode)) status.m_attribute |= directory;
    status.m_szFullName = path;
    return TRUE;
}

void CFile::SetReadOnly(const char* path, bool readOnlyFlag) {
    struct stat st;
    if (::stat(path, &st) != 0) ThrowErrno(errno, path);
    mode_t mode = st.st_mode & 07777;
    mode = readOnlyFlag ? (mode & ~0222) : (mode | 0200);
    if (::chmod(path, mode) != 0) ThrowErrno(errno, path);
}

void CFile::Remove(const char* path) {
    if (int err = Injected(FaultInjection::Op::Remove)) ThrowErrno(err, path);
    if (::unlink(path) != 0) ThrowErrno(errno, path);
}

void CFile::Rename(const char* oldPath, const char* newPath) {
    if (int err = Injected(FaultInjection::Op::Rename)) ThrowErrno(err, oldPath);
    if (::rename(oldPath, newPath) != 0) ThrowErrno(errno, oldPath);
}
