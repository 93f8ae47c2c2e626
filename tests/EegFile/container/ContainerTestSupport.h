// Helpers of the container tests: little-endian fields of a file's bytes, the
// fields of a section header as the tests expect them, processes and pipes.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "EegFile/container/TKCompoundFileException.h"
#include "Platform/Exception.h"

namespace containertest {

using Bytes = std::vector<unsigned char>;

inline uint64_t Le(const Bytes& b, size_t at, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | b.at(at + static_cast<size_t>(i));
    return v;
}
inline int32_t Le32(const Bytes& b, size_t at) {
    return static_cast<int32_t>(Le(b, at, 4));
}
inline int64_t Le64(const Bytes& b, size_t at) {
    return static_cast<int64_t>(Le(b, at, 8));
}
inline void PutLe(Bytes& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b.at(at + static_cast<size_t>(i)) = static_cast<unsigned char>(v >> (8 * i));
}
inline std::string Text(const Bytes& b, size_t at, size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}

// A section header's fields, read from the file's bytes at offset.
struct Header {
    std::string magic;  // 8 bytes
    std::string name;   // 16 bytes
    int64_t offset, next;
    int32_t linked, free, size, used, copy, headerSize, sequence, annotationLength;
    uint32_t annotation[8];
};

inline Header HeaderAt(const Bytes& b, size_t at) {
    Header h;
    h.magic = Text(b, at, 8);
    h.name = Text(b, at + 8, 16);
    h.offset = Le64(b, at + 24);
    h.next = Le64(b, at + 32);
    h.linked = Le32(b, at + 40);
    h.free = Le32(b, at + 44);
    h.size = Le32(b, at + 48);
    h.used = Le32(b, at + 52);
    h.copy = Le32(b, at + 56);
    h.headerSize = Le32(b, at + 60);
    h.sequence = Le32(b, at + 64);
    h.annotationLength = Le32(b, at + 68);
    for (int i = 0; i < 8; ++i)
        h.annotation[i] = static_cast<uint32_t>(Le32(b, at + 72 + 4 * static_cast<size_t>(i)));
    return h;
}

// A name as its 16-byte field holds it.
inline std::string NameField(const char* name) {
    std::string s(name);
    s.resize(16, '\0');
    return s;
}

inline const std::string kHeaderMagic("SctHdr\0\0", 8);
inline const std::string kTrailerMagic("SctTrlr\0", 8);

// Expects a trailer for the section (offset, size) at its end.
inline void ExpectTrailer(const Bytes& b, int64_t offset, int32_t size) {
    const size_t at = static_cast<size_t>(offset + size - 24);
    ASSERT_LE(at + 24, b.size());
    EXPECT_EQ(Text(b, at, 8), kTrailerMagic) << "trailer of the section at " << offset;
    EXPECT_EQ(Le64(b, at + 8), offset);
    EXPECT_EQ(Le32(b, at + 16), size);
    EXPECT_EQ(Le32(b, at + 20), 0);
}

// Deterministic content: byte i of a stream written in generation g.
inline unsigned char Pattern(int64_t i, int g = 0) {
    return static_cast<unsigned char>((i * 131 + (i >> 8) * 7 + g * 29) & 0xFF);
}
inline Bytes PatternBytes(int64_t from, int64_t n, int g = 0) {
    Bytes b(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        b[static_cast<size_t>(i)] = Pattern(from + i, g);
    return b;
}

// The code of a container exception thrown by f, -1 for none, -2 for another kind.
template <class F>
int ContainerCode(F&& f) {
    try {
        f();
    } catch (CException* e) {
        auto* c = dynamic_cast<CTKCompoundFileException*>(e);
        const int code = c ? c->m_nError : -2;
        e->Delete();
        return code;
    }
    return -1;
}

// One direction of talk between two processes: messages of fixed-size records.
class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe2(m_fd, O_CLOEXEC), 0); }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    template <class T>
    void Send(const T& value) {
        const auto* p = reinterpret_cast<const char*>(&value);
        size_t done = 0;
        while (done < sizeof value) {
            const ssize_t n = ::write(m_fd[1], p + done, sizeof value - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    // False when the other side is gone.
    template <class T>
    bool Receive(T& value) {
        auto* p = reinterpret_cast<char*>(&value);
        size_t done = 0;
        while (done < sizeof value) {
            const ssize_t n = ::read(m_fd[0], p + done, sizeof value - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

private:
    void CloseEnd(int i) {
        if (m_fd[i] >= 0)
            ::close(m_fd[i]);
        m_fd[i] = -1;
    }
    int m_fd[2] = {-1, -1};
};

// Runs body in a child process, which exits with body's result (90 when it
// throws a library exception, whose message goes to stderr).
inline pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 91;
        try {
            rc = body();
        } catch (CException* e) {
            fprintf(stderr, "child: %s\n", e->GetErrorText().GetString());
            e->Delete();
            rc = 90;
        }
        ::_exit(rc);
    }
    EXPECT_GT(pid, 0);
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
inline int Reap(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace containertest

namespace containertest {

// A section header's 104 bytes, built by hand for forged files.
inline Bytes HeaderBytes(const char* name, int64_t offset, int64_t next, int32_t linked,
                         int32_t free, int32_t size, int32_t used, int32_t copy, int32_t sequence) {
    Bytes b(104, 0);
    std::memcpy(b.data(), "SctHdr", 6);
    std::strncpy(reinterpret_cast<char*>(b.data()) + 8, name, 15);
    PutLe(b, 24, static_cast<uint64_t>(offset), 8);
    PutLe(b, 32, static_cast<uint64_t>(next), 8);
    PutLe(b, 40, static_cast<uint32_t>(linked), 4);
    PutLe(b, 44, static_cast<uint32_t>(free), 4);
    PutLe(b, 48, static_cast<uint32_t>(size), 4);
    PutLe(b, 52, static_cast<uint32_t>(used), 4);
    PutLe(b, 56, static_cast<uint32_t>(copy), 4);
    PutLe(b, 60, 104, 4);
    PutLe(b, 64, static_cast<uint32_t>(sequence), 4);
    return b;
}

}  // namespace containertest
