// CArchive: the framework's binary serialiser over a CFile, storing or loading.
// The byte layout is a stored contract: every value little-endian, no gaps;
// strings and counts with the framework's length prefixes (see the operators).
// Values move through a buffer; the file sees one call per buffer, not per value.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "Platform/Exception.h"
#include "Platform/String.h"
#include "Platform/Types.h"

class CFile;

class CArchive {
public:
    enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };

    // bufSize is the buffer's size in bytes (at least 64 are used).
    CArchive(CFile* file, UINT mode, int bufSize = 4096);
    // A storing archive that was not closed writes out its buffer here; failures
    // are swallowed, so call Close() to see them.
    ~CArchive();

    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    BOOL IsLoading() const { return m_loading; }
    BOOL IsStoring() const { return !m_loading; }
    // Whether a loading archive has consumed every byte it has buffered.
    BOOL IsBufferEmpty() const { return m_cur == m_end; }
    CFile* GetFile() const { return m_file; }

    // Writes out a pending store buffer; the file is not flushed to disk.
    void Flush();
    // Flush (when storing), then detach from the file.
    void Close();
    // Detach without writing anything out.
    void Abort();

    // Reads up to count bytes; fewer only at the end of the stream.
    UINT Read(void* buffer, UINT count);
    void Write(const void* buffer, UINT count);
    // Reads exactly count bytes or throws the end-of-file archive exception.
    void EnsureRead(void* buffer, UINT count);

    // The underlying file's position corrected by what sits in the buffer.
    uint64_t GetPosition() const;
    // Writes out or drops the buffer, then moves the file to an absolute position.
    void Seek(uint64_t position);
    // Writes out or drops the buffer, sets the file's length and moves to its end.
    void SetLength(uint64_t length);

    // Element counts: below 0xFFFF one WORD, else the WORD 0xFFFF and a DWORD.
    DWORD ReadCount();
    void WriteCount(DWORD count);

    // Strings: length below 255 one byte; below 65534 the byte 0xFF and a WORD;
    // else 0xFF, the WORD 0xFFFF and a DWORD; then the characters, no terminator.
    // Loading also reads the 16-bit character form (0xFF, the WORD 0xFFFE, a fresh
    // prefix counted in 16-bit characters) and narrows it.
    CArchive& operator<<(const CString& s);
    CArchive& operator>>(CString& s);

    template <class T>
    requires std::is_arithmetic_v<T> &&(!std::is_same_v<T, bool>)CArchive& operator<<(T v) {
        StoreValue(v);
        return *this;
    }
    template <class T>
    requires std::is_arithmetic_v<T> &&(!std::is_same_v<T, bool>)CArchive& operator>>(T& v) {
        LoadValue(v);
        return *this;
    }
    // Enumerations are stored as 4-byte integers.
    template <class E>
    requires std::is_enum_v<E> CArchive& operator<<(E v) {
        StoreValue(static_cast<int32_t>(v));
        return *this;
    }
    template <class E>
    requires std::is_enum_v<E> CArchive& operator>>(E& v) {
        int32_t raw;
        LoadValue(raw);
        v = static_cast<E>(raw);
        return *this;
    }
    // A flag's width is the record's business: store it as BYTE or int explicitly.
    CArchive& operator<<(bool) = delete;
    CArchive& operator>>(bool&) = delete;

    // Name quoted by this archive's exceptions; the file's path at construction.
    CString m_strFileName;

private:
    template <class T>
    static T ToLittle(T v) {
        static_assert(
            std::endian::native == std::endian::little || std::endian::native == std::endian::big,
            "mixed-endian hosts are not supported");
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
            unsigned char b[sizeof(T)];
            std::memcpy(b, &v, sizeof(T));
            for (size_t i = 0; i < sizeof(T) / 2; ++i)
                std::swap(b[i], b[sizeof(T) - 1 - i]);
            std::memcpy(&v, b, sizeof(T));
        }
        return v;
    }

    template <class T>
    void StoreValue(T v) {
        if (m_loading)
            ThrowArchive(CArchiveException::readOnly);
        if (static_cast<size_t>(m_bufEnd - m_cur) < sizeof(T))
            Flush();
        v = ToLittle(v);
        std::memcpy(m_cur, &v, sizeof(T));
        m_cur += sizeof(T);
    }

    template <class T>
    void LoadValue(T& v) {
        if (!m_loading)
            ThrowArchive(CArchiveException::writeOnly);
        if (static_cast<size_t>(m_end - m_cur) < sizeof(T))
            FillBuffer(sizeof(T));
        std::memcpy(&v, m_cur, sizeof(T));
        m_cur += sizeof(T);
        v = ToLittle(v);
    }

    // Loading: makes at least `needed` unread bytes available or throws end-of-file.
    void FillBuffer(size_t needed);
    [[noreturn]] void ThrowArchive(int cause) const;
    CString ReadNarrow(uint32_t length);
    CString ReadWide(uint32_t length);
    uint32_t ReadStringLength(bool& wide);

    CFile* m_file;
    bool m_loading;
    bool m_noFlushOnDelete;
    std::unique_ptr<unsigned char[]> m_buf;
    unsigned char* m_bufEnd;  // end of the buffer's storage
    unsigned char* m_cur;     // next byte to store or load
    unsigned char* m_end;     // loading: end of the valid bytes
};
