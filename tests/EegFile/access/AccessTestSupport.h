// Stations as processes for the access tests: each child has its own
// COMPUTERNAME and talks to the test through a socket, so the test orders every
// step of every station without sleeping. A watchdog alarm ends a child that
// hangs, and the test then sees its end close instead of waiting forever.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "EegFile/access/EegAccessControl.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Exception.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace accesstest {

constexpr unsigned kWatchdogSeconds = 300;  // far beyond any step a child waits for

// A recording's path and the two files beside it, in a fresh folder.
struct Recording {
    testsupport::TempDir dir;
    std::string path = dir.File("rec.eeg");
    std::string control = dir.File("rec.$co");
    std::string lock = dir.File("rec.$lo");
    bool Exists(const std::string& p) const { return std::filesystem::exists(p); }
    bool Clean() const { return !Exists(control) && !Exists(lock); }
};

// A child process named computerName running body; Send and Receive carry
// fixed-size records between it and the test over a socket pair.
class Child {
public:
    Child(const std::string& computerName, const std::function<int(Child&)>& body) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            ADD_FAILURE() << "socketpair: " << std::strerror(errno);
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only the test keeps the other children's ends, so that each child
            // sees its own end close when the test closes it.
            for (int fd : ParentFds())
                ::close(fd);
            ::close(ends[0]);
            m_fd = ends[1];
            ::setenv("COMPUTERNAME", computerName.c_str(), 1);
            ::alarm(kWatchdogSeconds);
            int rc = 90;
            try {
                rc = body(*this);
            } catch (CException* e) {
                std::fprintf(stderr, "%s: %s\n", computerName.c_str(),
                             e->GetErrorText().GetString());
                e->Delete();
            }
            ::_exit(rc);
        }
        ::close(ends[1]);
        m_fd = ends[0];
        ParentFds().push_back(m_fd);
        if (m_pid < 0)
            ADD_FAILURE() << "fork: " << std::strerror(errno);
    }
    ~Child() { Wait(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // False when the other side is gone.
    template <class T>
    bool Send(const T& value) {
        return Transfer(true, const_cast<T*>(&value), sizeof value);
    }
    template <class T>
    bool Receive(T& value) {
        return Transfer(false, &value, sizeof value);
    }

    // Closes the socket (a child waiting for a command then ends) and reaps; the
    // exit code, -1 when the child did not exit normally (killed, watchdog).
    int Wait() {
        auto& fds = ParentFds();
        fds.erase(std::remove(fds.begin(), fds.end(), m_fd), fds.end());
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        if (m_pid > 0)
            m_status = testsupport::Reap(std::exchange(m_pid, 0));
        return m_status;
    }
    // Once this returns, the kernel has closed the child's files. The exit code
    // as Wait gives it: -1 when the kill ended the child, not an exit before it.
    int Kill() {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        return Wait();
    }

private:
    static std::vector<int>& ParentFds() {
        static std::vector<int> fds;
        return fds;
    }
    bool Transfer(bool out, void* data, size_t size) {
        auto* p = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = out ? ::send(m_fd, p, size, MSG_NOSIGNAL) : ::read(m_fd, p, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_fd = -1;
    int m_status = -1;
};

// Stations as "NAME#number:mode;..." in list order.
inline std::string StationsText(const CEegStationList& stations) {
    std::string text;
    for (const CEegStationEntry& s : stations) {
        text += s.m_Name.str() + "#" + std::to_string(s.m_Number) + ":" +
                std::to_string(static_cast<int>(s.m_Mode)) + ";";
    }
    return text;
}

// The control file's stations, read without its lock (only while every station
// stands still); "<none>" without the file.
inline std::string ControlFileStations(const std::string& controlPath) {
    CFile file;
    if (!file.Open(controlPath.c_str(), CFile::modeRead | CFile::shareDenyNone))
        return "<none>";
    CEegControlRecord record;
    ReadControlRecord(file, record);
    return StationsText(record.m_Stations);
}

// --- A station server: one CEegAccessControl driven command by command --------

enum class Op : int32_t {
    Take,           // a: mode
    Change,         // a: mode
    Release,        //
    RemoveEntries,  // value = wasWriting
    Lock,           // a: byte, b: state, c: time-out
    WriterActive,   // a: flag
};

struct Command {
    Op op;
    int32_t a = 0, b = 0, c = 0;
};

struct Reply {
    enum Error : int32_t { none, eegFile, container, archive, other, gone };
    int32_t result = 0;
    int32_t value = 0;
    int32_t number = 0;       // station number after the command
    int32_t lockFailure = 0;  // after the command
    int32_t error = none;
    int32_t code = 0;      // the exception's code
    char text[1024] = {};  // the exception's message, or the station list as last read
};

inline int ServeStation(Child& self, const std::string& recordingPath) {
    CEegAccessControl ac;
    ac.SetPaths(recordingPath.c_str());
    Command c;
    while (self.Receive(c)) {
        Reply r;
        std::string text;
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
                case Op::RemoveEntries:
                    r.result = ac.RemoveStationEntries(recordingPath.c_str(), r.value);
                    break;
                case Op::Lock:
                    r.result = ac.SetLockState(c.a, c.b, c.c);
                    break;
                case Op::WriterActive:
                    ac.SetWriterActive(c.a);
                    break;
            }
            text = StationsText(ac.GetStationList());
        } catch (CException* e) {
            r.error = Reply::other;
            if (auto* x = dynamic_cast<CEegFileException*>(e)) {
                r.error = Reply::eegFile;
                r.code = x->GetErrorCode();
            } else if (auto* y = dynamic_cast<CTKCompoundFileException*>(e)) {
                r.error = Reply::container;
                r.code = y->m_nError;
            } else if (auto* z = dynamic_cast<CArchiveException*>(e)) {
                r.error = Reply::archive;
                r.code = z->m_cause;
            }
            text = e->GetErrorText().str();
            e->Delete();
        }
        std::snprintf(r.text, sizeof r.text, "%s", text.c_str());
        r.number = ac.GetStationNumber();
        r.lockFailure = ac.GetLockFailure();
        if (!self.Send(r))
            return 2;
    }
    return 0;
}

// The test's handle on a station server. Send starts a command while the test
// goes on; Receive takes its reply.
class Station : public Child {
public:
    Station(const std::string& computerName, const std::string& recordingPath)
        : Child(computerName,
                [recordingPath](Child& self) { return ServeStation(self, recordingPath); }) {}

    Reply Receive() {
        Reply r;
        if (!Child::Receive(r)) {
            r = Reply();
            r.error = Reply::gone;
        }
        return r;
    }
    Reply Call(Op op, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
        Send(Command{op, a, b, c});  // a station gone shows in the reply
        return Receive();
    }
    // The result of a command that must not throw.
    int Do(Op op, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
        const Reply r = Call(op, a, b, c);
        EXPECT_EQ(r.error, Reply::none) << r.text;
        return r.result;
    }
    int Take(int mode) { return Do(Op::Take, mode); }
    int Change(int mode) { return Do(Op::Change, mode); }
    void Release() { Do(Op::Release); }
};

// Looks at the bytes of a lock file from outside every station: "F" for a byte
// this open can lock (it is given back at once), "B" for a busy one.
class LockProbe {
public:
    explicit LockProbe(const std::string& lockPath)
        : m_file(lockPath.c_str(), CFile::modeReadWrite | CFile::shareDenyNone) {}
    std::string Map() {
        std::string s;
        for (uint64_t i = 0; i < EegControlFileFormat::kLockByteCount; ++i) {
            const bool free = m_file.TryLockRange(i, 1);
            if (free)
                m_file.UnlockRange(i, 1);
            s += free ? 'F' : 'B';
        }
        return s;
    }
    void Close() { m_file.Close(); }

private:
    CFile m_file;
};

}  // namespace accesstest
