#include "Platform/Archive.h"

#include <algorithm>

#include "Platform/File.h"

namespace {
constexpr int kMinBuffer = 64;
// Long strings are read in pieces of this size, so a corrupt length prefix can
// never make us allocate more than the stream actually holds.
constexpr uint32_t kStringPiece = 64 * 1024;
}  // namespace

CArchive::CArchive(CFile* file, UINT mode, int bufSize)
    : m_strFileName(file ? file->GetFilePath() : CString()),
      m_file(file),
      m_loading((mode & load) != 0),
      m_noFlushOnDelete((mode & bNoFlushOnDelete) != 0) {
    const size_t size = static_cast<size_t>(std::max(bufSize, kMinBuffer));
    m_buf = std::make_unique<unsigned char[]>(size);
    m_bufEnd = m_buf.get() + size;
    m_cur = m_buf.get();
    m_end = m_loading ? m_buf.get() : m_bufEnd;
}

CArchive::~CArchive() {
    if (m_file && !m_loading && !m_noFlushOnDelete) {
        try {
            Flush();
        } catch (CException* e) {
            e->Delete();
        }
    }
}

void CArchive::ThrowArchive(int cause) const {
    AfxThrowArchiveException(cause, m_strFileName);
}

void CArchive::Flush() {
    if (!m_file || m_loading)
        return;
    if (m_cur != m_buf.get()) {
        const UINT n = static_cast<UINT>(m_cur - m_buf.get());
        // Empty the buffer before writing so a failed write is not written twice
        // by a later flush; the failure itself reaches the caller.
        m_cur = m_buf.get();
        m_file->Write(m_buf.get(), n);
    }
}

void CArchive::Close() {
    Flush();
    m_file = nullptr;
}

void CArchive::Abort() {
    m_cur = m_buf.get();
    m_end = m_loading ? m_buf.get() : m_bufEnd;
    m_file = nullptr;
}

void CArchive::FillBuffer(size_t needed) {
    if (!m_loading)
        ThrowArchive(CArchiveException::writeOnly);
    if (!m_file)
        ThrowArchive(CArchiveException::generic);
    // Keep the unread tail, then top up the buffer with as few reads as it takes.
    const size_t left = static_cast<size_t>(m_end - m_cur);
    std::memmove(m_buf.get(), m_cur, left);
    m_cur = m_buf.get();
    m_end = m_buf.get() + left;
    while (static_cast<size_t>(m_end - m_cur) < needed) {
        const UINT got = m_file->Read(m_end, static_cast<UINT>(m_bufEnd - m_end));
        if (got == 0)
            ThrowArchive(CArchiveException::endOfFile);
        m_end += got;
    }
}

UINT CArchive::Read(void* buffer, UINT count) {
    if (!m_loading)
        ThrowArchive(CArchiveException::writeOnly);
    auto* out = static_cast<unsigned char*>(buffer);
    UINT done = std::min<UINT>(count, static_cast<UINT>(m_end - m_cur));
    std::memcpy(out, m_cur, done);
    m_cur += done;
    if (done == count || !m_file)
        return done;

    const UINT bufSize = static_cast<UINT>(m_bufEnd - m_buf.get());
    if (count - done >= bufSize) {
        // Large block: straight into the caller's memory, then refill normally.
        while (count - done >= bufSize) {
            const UINT got = m_file->Read(out + done, count - done - (count - done) % bufSize);
            if (got == 0)
                return done;
            done += got;
        }
    }
    while (done < count) {
        m_cur = m_buf.get();
        m_end = m_buf.get() + m_file->Read(m_buf.get(), bufSize);
        if (m_end == m_cur)
            break;
        const UINT n = std::min<UINT>(count - done, static_cast<UINT>(m_end - m_cur));
        std::memcpy(out + done, m_cur, n);
        m_cur += n;
        done += n;
    }
    return done;
}

void CArchive::EnsureRead(void* buffer, UINT count) {
    if (Read(buffer, count) != count)
        ThrowArchive(CArchiveException::endOfFile);
}

void CArchive::Write(const void* buffer, UINT count) {
    if (m_loading)
        ThrowArchive(CArchiveException::readOnly);
    const auto* in = static_cast<const unsigned char*>(buffer);
    if (count <= static_cast<size_t>(m_bufEnd - m_cur)) {
        std::memcpy(m_cur, in, count);
        m_cur += count;
        return;
    }
    Flush();
    if (count >= static_cast<size_t>(m_bufEnd - m_buf.get())) {
        m_file->Write(in, count);
    } else {
        std::memcpy(m_cur, in, count);
        m_cur += count;
    }
}

uint64_t CArchive::GetPosition() const {
    if (!m_file)
        return 0;
    const uint64_t filePos = m_file->GetPosition();
    if (m_loading)
        return filePos - static_cast<uint64_t>(m_end - m_cur);
    return filePos + static_cast<uint64_t>(m_cur - m_buf.get());
}

void CArchive::Seek(uint64_t position) {
    if (!m_loading)
        Flush();
    m_cur = m_buf.get();
    m_end = m_loading ? m_buf.get() : m_bufEnd;
    m_file->Seek(static_cast<int64_t>(position), CFile::begin);
}

void CArchive::SetLength(uint64_t length) {
    if (!m_loading)
        Flush();
    m_cur = m_buf.get();
    m_end = m_loading ? m_buf.get() : m_bufEnd;
    m_file->SetLength(length);
    m_file->SeekToEnd();
}

DWORD CArchive::ReadCount() {
    WORD w;
    *this >> w;
    if (w != 0xFFFF)
        return w;
    DWORD d;
    *this >> d;
    return d;
}

void CArchive::WriteCount(DWORD count) {
    if (count < 0xFFFF) {
        *this << static_cast<WORD>(count);
    } else {
        *this << static_cast<WORD>(0xFFFF) << count;
    }
}

CArchive& CArchive::operator<<(const CString& s) {
    const uint32_t n = static_cast<uint32_t>(s.GetLength());
    if (n < 255) {
        *this << static_cast<BYTE>(n);
    } else if (n < 0xFFFE) {
        *this << static_cast<BYTE>(0xFF) << static_cast<WORD>(n);
    } else {
        *this << static_cast<BYTE>(0xFF) << static_cast<WORD>(0xFFFF) << static_cast<DWORD>(n);
    }
    Write(s.GetString(), n);
    return *this;
}

uint32_t CArchive::ReadStringLength(bool& wide) {
    BYTE b;
    *this >> b;
    if (b < 0xFF)
        return b;
    WORD w;
    *this >> w;
    if (w == 0xFFFE) {
        // 16-bit character marker: a fresh prefix follows; a second marker is not
        // a valid string.
        wide = true;
        *this >> b;
        if (b < 0xFF)
            return b;
        *this >> w;
        if (w == 0xFFFE)
            ThrowArchive(CArchiveException::badIndex);
    }
    if (w < 0xFFFF)
        return w;
    DWORD d;
    *this >> d;
    return d;
}

CString CArchive::ReadNarrow(uint32_t length) {
    std::string s;
    while (s.size() < length) {
        const uint32_t piece =
            std::min<uint32_t>(kStringPiece, length - static_cast<uint32_t>(s.size()));
        const size_t at = s.size();
        s.resize(at + piece);
        EnsureRead(s.data() + at, piece);
    }
    return CString(std::move(s));
}

CString CArchive::ReadWide(uint32_t length) {
    // Narrowed character by character: Latin-1 code points stay, others become '?'.
    std::string s;
    unsigned char piece[2 * 4096];
    uint32_t left = length;
    while (left > 0) {
        const uint32_t n = std::min<uint32_t>(left, sizeof piece / 2);
        EnsureRead(piece, 2 * n);
        for (uint32_t i = 0; i < n; ++i) {
            const unsigned c = piece[2 * i] | (static_cast<unsigned>(piece[2 * i + 1]) << 8);
            s.push_back(c < 0x100 ? static_cast<char>(c) : '?');
        }
        left -= n;
    }
    return CString(std::move(s));
}

CArchive& CArchive::operator>>(CString& s) {
    bool wide = false;
    const uint32_t n = ReadStringLength(wide);
    s = wide ? ReadWide(n) : ReadNarrow(n);
    return *this;
}
