// Stations as processes for the access tests: each child has its own
// COMPUTERNAME and talks to the test through two pipes, so the test orders every
// step of every station without sleeping. A watchdog alarm ends a child that
// hangs, and the test then sees its pipe close instead of waiting forever.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "EegFile/access/EegAccessControl.h"
#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Exception.h"
#include "Platform/File.h"

namespace accesstest {

constexpr unsigned kWatchdogSeconds = 120;

inline bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

inline bool ReadAll(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A child process named computerName running body. Send and Receive carry
// fixed-size records to the other side: from the test to the child and back.
class Child {
public:
    Child(const std::string& computerName, const std::function<int(Child&)>& body) {
        int down[2], up[2];
        if (::pipe2(down, O_CLOEXEC) != 0 || ::pipe2(up, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2: " << std::strerror(errno);
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            // The other children's ends stay with the test only, so that each
            // child sees its own pipe close when the test closes it.
            for (int fd : ParentFds())
                ::close(fd);
            ::close(down[1]);
            ::close(up[0]);
            m_in = down[0];
            m_out = up[1];
            ::setenv("COMPUTERNAME", computerName.c_str(), 1);
            ::alarm(kWatchdogSeconds);
            int rc = 91;
            try {
                rc = body(*this);
            } catch (CException* e) {
                std::fprintf(stderr, "%s: %s\n", computerName.c_str(),
                             e->GetErrorText().GetString());
                e->Delete();
                rc = 90;
            }
            ::_exit(rc);
        }
        ::close(down[0]);
        ::close(up[1]);
        m_out = down[1];
        m_in = up[0];
        if (m_pid < 0) {
            ADD_FAILURE() << "fork: " << std::strerror(errno);
            CloseFds();
            return;
        }
        ParentFds().push_back(m_out);
        ParentFds().push_back(m_in);
    }
    // Closes the pipes (a child waiting for a command then ends) and reaps.
    ~Child() { Wait(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    template <class T>
    bool Send(const T& value) {
        return WriteAll(m_out, &value, sizeof value);
    }
    // False when the other side is gone.
    template <class T>
    bool Receive(T& value) {
        return ReadAll(m_in, &value, sizeof value);
    }
    int InFd() const { return m_in; }
    pid_t Pid() const { return m_pid; }

    // The exit code, -1 when the child did not exit normally (killed, watchdog).
    int Wait() {
        CloseFds();
        if (m_pid > 0) {
            int status = 0;
            pid_t r;
            do {
                r = ::waitpid(m_pid, &status, 0);
            } while (r < 0 && errno == EINTR);
            m_status = r == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_pid = 0;
        }
        return m_status;
    }
    // SIGKILL, then reaped: by the time this returns the kernel has closed the
    // child's files. What it wrote before dying can still be read.
    void Kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_pid = 0;
            m_status = -1;
        }
    }

private:
    static std::vector<int>& ParentFds() {
        static std::vector<int> fds;
        return fds;
    }
    void CloseFds() {
        for (int* fd : {&m_in, &m_out}) {
            if (*fd < 0)
                continue;
            auto& fds = ParentFds();
            fds.erase(std::remove(fds.begin(), fds.end(), *fd), fds.end());
            ::close(*fd);
            *fd = -1;
        }
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_status = -1;
};

// --- A station server: one CEegAccessControl driven command by command --------

enum class Op : int32_t {
    Take,    // a: mode
    Change,  // a: mode
    Release,
    ReleaseWithoutUpdate,
    RemoveEntries,  // result 1, value = wasWriting
    Lock,           // a: byte, b: state, c: time-out; value = held mark after
    Region,         // a: type, b: copy, c: state, d: time-out
    WriterActive,   // a: flag
    Message,        // text = message of CEegFileException a with the station list
    Exit,
};

struct Command {
    Op op;
    int32_t a = 0, b = 0, c = 0, d = 0;
};

struct Reply {
    enum Error : int32_t { none, eegFile, container, file, other, gone };
    int32_t result = 0;
    int32_t value = 0;
    int32_t number = 0;       // station number after the command
    int32_t lockFailure = 0;  // after the command
    int32_t error = none;
    int32_t code = 0;      // the exception's code, or the file exception's cause
    char text[1024] = {};  // the exception's message, or the station list "NAME#n:m;..."
};

inline void SetText(Reply& r, const CString& s) {
    std::snprintf(r.text, sizeof r.text, "%s", s.GetString());
}

inline int ServeStation(Child& self, const std::string& recordingPath) {
    CEegAccessControl ac;
    ac.SetPaths(recordingPath.c_str());
    Command c;
    while (self.Receive(c)) {
        Reply r;
        try {
            switch (c.op) {
                case Op::Take:
                    r.result = ac.TakeMode(static_cast<CEegAccessControl::Mode>(c.a));
                    break;
                case Op::Change:
                    r.result = ac.ChangeMode(static_cast<CEegAccessControl::Mode>(c.a));
                    break;
                case Op::Release:
                    ac.Release();
                    break;
                case Op::ReleaseWithoutUpdate:
                    ac.ReleaseWithoutUpdate();
                    break;
                case Op::RemoveEntries:
                    r.result = ac.RemoveStationEntries(recordingPath.c_str(), r.value);
                    break;
                case Op::Lock:
                    r.result = ac.SetLockState(c.a, c.b, c.c);
                    r.value = ac.GetLockHeld(c.a);
                    break;
                case Op::Region:
                    r.result = ac.SetLockState(c.a, c.b, c.c, c.d);
                    break;
                case Op::WriterActive:
                    ac.SetWriterActive(c.a);
                    break;
                case Op::Message: {
                    CEegFileException e(c.a, &ac.GetStationList());
                    SetText(r, e.GetErrorText());
                    break;
                }
                case Op::Exit:
                    return 0;
            }
            if (c.op != Op::Message) {
                CString list;
                for (const CEegStationEntry& s : ac.GetStationList()) {
                    CString one;
                    one.Format("%s#%d:%d;", s.m_Name.GetString(), s.m_Number,
                               static_cast<int>(s.m_Mode));
                    list += one;
                }
                SetText(r, list);
            }
        } catch (CException* e) {
            if (auto* x = dynamic_cast<CEegFileException*>(e)) {
                r.error = Reply::eegFile;
                r.code = x->GetErrorCode();
            } else if (auto* y = dynamic_cast<CTKCompoundFileException*>(e)) {
                r.error = Reply::container;
                r.code = y->m_nError;
            } else if (auto* z = dynamic_cast<CFileException*>(e)) {
                r.error = Reply::file;
                r.code = z->m_cause;
            } else {
                r.error = Reply::other;
            }
            SetText(r, e->GetErrorText());
            e->Delete();
        }
        r.number = ac.GetStationNumber();
        r.lockFailure = ac.GetLockFailure();
        if (!self.Send(r))
            return 2;
    }
    return 0;
}

// The test's handle on a station server.
class Station {
public:
    Station(const std::string& computerName, const std::string& recordingPath)
        : m_child(computerName,
                  [recordingPath](Child& self) { return ServeStation(self, recordingPath); }) {}

    Reply Call(Op op, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0) {
        Reply r;
        Command cmd{op, a, b, c, d};
        if (!m_child.Send(cmd) || !m_child.Receive(r)) {
            r = Reply();
            r.error = Reply::gone;
        }
        return r;
    }
    // The result of a command that must not throw.
    int Do(Op op, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0) {
        const Reply r = Call(op, a, b, c, d);
        EXPECT_EQ(r.error, Reply::none) << r.text;
        return r.result;
    }
    int Take(int mode) { return Do(Op::Take, mode); }
    int Change(int mode) { return Do(Op::Change, mode); }
    void Release() { Do(Op::Release); }
    void Kill() { m_child.Kill(); }

private:
    Child m_child;
};

// The control file's stations as "NAME#number:mode;..." (the file read without
// its lock: only while every station stands still). "<none>" without the file.
inline std::string ControlFileStations(const std::string& controlPath) {
    CFile file;
    if (!file.Open(controlPath.c_str(), CFile::modeRead | CFile::shareDenyNone))
        return "<none>";
    CEegControlRecord record;
    ReadControlRecord(file, record);
    std::string list;
    for (const CEegStationEntry& s : record.m_Stations) {
        list += s.m_Name.str() + "#" + std::to_string(s.m_Number) + ":" +
                std::to_string(static_cast<int>(s.m_Mode)) + ";";
    }
    return list;
}

// Looks at bytes of a lock file from outside every station: a byte is free when
// this open can lock it (and it is given back at once).
class LockProbe {
public:
    explicit LockProbe(const std::string& lockPath)
        : m_file(lockPath.c_str(), CFile::modeReadWrite | CFile::shareDenyNone) {}
    bool Free(int byte) {
        if (!m_file.TryLockRange(static_cast<uint64_t>(byte), 1))
            return false;
        m_file.UnlockRange(static_cast<uint64_t>(byte), 1);
        return true;
    }
    // "F" for a free byte, "B" for a busy one, bytes 0 to 12.
    std::string Map() {
        std::string s;
        for (int i = 0; i < EegControlFileFormat::kLockByteCount; ++i)
            s += Free(i) ? 'F' : 'B';
        return s;
    }
    void Close() { m_file.Close(); }

private:
    CFile m_file;
};

}  // namespace accesstest
