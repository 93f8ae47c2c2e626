// Sharing a container: where the lock hooks are taken and given back, and
// several processes (stations) on one file through byte locks of a lock file:
// concurrent creation, a lock time-out, and a reader that follows a writer.
//
// Each process opens its own files after fork(): byte locks belong to the open
// file, which a forked child would otherwise share with its parent. Pipes order
// the steps; nothing sleeps.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "ContainerTestSupport.h"
#include "Platform/File.h"

namespace {
using namespace containertest;

// A hook that only writes down its calls ("D+" take, "D-" release) and keeps state.
class RecordingHook : public CTKLockHook {
public:
    RecordingHook(char name, std::string& log) : m_name(name), m_log(log) {}
    int SetLockState(int state) override {
        m_log += m_name;
        m_log += state ? "+ " : "- ";
        const int previous = m_held;
        m_held = state;
        return previous;
    }
    int m_held = 0;

private:
    char m_name;
    std::string& m_log;
};

// A byte of a lock file, taken with a time-out: what the access control will do.
class ByteLockHook : public CTKLockHook {
public:
    ByteLockHook(CFile& lockFile, uint64_t byte, int timeoutMs)
        : m_file(lockFile), m_byte(byte), m_timeoutMs(timeoutMs) {}
    int SetLockState(int state) override {
        const int previous = m_held;
        if (state == previous)
            return previous;
        if (state == 0) {
            m_file.UnlockRange(m_byte, 1);
        } else {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
            // Another station holds it: try again at once, until the time is up.
            while (!m_file.TryLockRange(m_byte, 1)) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    CTKCompoundFileException::Throw(CTKCompoundFileException::lockTimeout,
                                                    m_file.GetFilePath());
                }
            }
        }
        m_held = state;
        return previous;
    }

private:
    CFile& m_file;
    uint64_t m_byte;
    int m_timeoutMs;
    int m_held = 0;
};

// One station: its lock file, its two hooks and its container.
struct Station {
    explicit Station(const std::string& lockPath, int timeoutMs = 10000)
        : lockFile(lockPath.c_str(), CFile::modeCreate | CFile::modeNoTruncate |
                                         CFile::modeReadWrite | CFile::shareDenyNone),
          writer(lockFile, 0, timeoutMs),
          directory(lockFile, 2, timeoutMs) {
        container.SetWriterHook(&writer);
        container.SetDirectoryHook(&directory);
    }
    CFile lockFile;
    ByteLockHook writer;
    ByteLockHook directory;
    CTKCompoundFile container;
};

TEST(TKCompoundFileSharing, HooksAreTakenAroundDirectoryWorkAndFileGrowth) {
    TempDir dir;
    const std::string path = dir.File("hooks.eeg");
    std::string log;
    RecordingHook writer('W', log), directory('D', log);
    CTKCompoundFile f;
    f.SetWriterHook(&writer);
    f.SetDirectoryHook(&directory);
    // The log since the last call.
    auto taken = [&] { return std::exchange(log, std::string()); };

    f.Create(path.c_str());  // the directory's first section extends the file
    EXPECT_EQ(taken(), "D+ W+ W- D- ");
    f.Close();
    EXPECT_EQ(taken(), "W- ");
    f.Open(path.c_str(), 0);  // the load refreshes the directory, nested
    EXPECT_EQ(taken(), "D+ D+ D+ D- ");
    // Creation: directory lock, its refresh nested in it, the writer lock for
    // the new section; the directory record fits the directory's section.
    CTKStream* s = f.CreateStream("Data", 1, 0, 1000);
    EXPECT_EQ(taken(), "D+ D+ D+ W+ W- D- ");
    WriteAll(s, PatternBytes(0, 1000));  // inside the first section
    EXPECT_EQ(taken(), "");
    WriteAll(s, PatternBytes(1000, 1000));  // a new section at the file's end
    EXPECT_EQ(taken(), "W+ W- ");
    CTKStream* after = f.CreateStream("After", 1, 0, 0);
    taken();
    s->Trim(0);  // the spare becomes a released section under the writer lock
    EXPECT_EQ(taken(), "W+ W- ");
    WriteAll(s, PatternBytes(2000, 100));  // reuse needs no lock
    f.CloseStream(s);
    f.CloseStream(after);
    EXPECT_EQ(taken(), "");

    // An outer holder keeps the lock: nested takes give back what they found.
    directory.SetLockState(1);
    taken();
    f.OpenStream("Data", 1, 0, 1, 0);
    EXPECT_EQ(taken(), "D+ D+ D+ D+ ");
    EXPECT_EQ(directory.m_held, 1);
    directory.SetLockState(0);

    // An open-ended stream holds the writer lock from its creation to its close.
    CTKStream* oe = f.CreateStream("Copy", 1, 1, 0);
    ASSERT_NE(oe, nullptr);
    EXPECT_EQ(writer.m_held, 1);
    EXPECT_EQ(directory.m_held, 0);
    taken();
    WriteAll(oe, PatternBytes(0, 5000));
    EXPECT_EQ(taken(), "");
    f.CloseStream(oe);
    EXPECT_EQ(taken(), "W- ");
    EXPECT_EQ(writer.m_held, 0);
}

TEST(TKCompoundFileSharing, CreatorTimesOutOrWaitsAndSeesTheFirstsRecord) {
    TempDir dir;
    const std::string path = dir.File("two.eeg");
    const std::string lockPath = dir.File("two.$lo");
    CreateEmpty(path);
    Pipe held, timedOut, done;
    const pid_t first = Spawn([&] {
        KeepEnds({&held}, {&timedOut, &done});
        Station a(lockPath);
        a.container.Open(path.c_str(), 0);
        a.directory.SetLockState(1);  // a reviewer holding the directory lock
        held.Send('h');
        char c;
        if (!timedOut.Receive(c))
            return 2;
        WriteStream(a.container, "FromA", 1, 0, PatternBytes(0, 3000, 1));
        a.directory.SetLockState(0);
        return done.Receive(c) ? 0 : 3;
    });
    const pid_t second = Spawn([&] {
        KeepEnds({&timedOut, &done}, {&held});
        char c;
        if (!held.Receive(c))
            return 2;
        {
            // A short wait ends in the time-out, naming the lock file; the
            // container stays open without a usable directory until closed.
            Station b(lockPath, 100);
            try {
                b.container.Open(path.c_str(), 0);
                return 3;
            } catch (CException* e) {
                auto* ce = dynamic_cast<CTKCompoundFileException*>(e);
                const bool named = ce && ce->m_nError == CTKCompoundFileException::lockTimeout &&
                                   ce->m_strFileName == lockPath.c_str() &&
                                   std::string(ce->GetErrorText()).find("File locking timeout.") !=
                                       std::string::npos;
                e->Delete();
                if (!named)
                    return 4;
            }
            if (!b.container.IsOpen() || b.container.CreateStream("X", 1, 0, 0))
                return 5;
            b.container.Close();
            if (b.container.IsOpen())
                return 6;
        }
        timedOut.Send('t');
        Station b(lockPath);
        b.container.Open(path.c_str(), 0);  // waits for the directory lock
        WriteStream(b.container, "FromB", 1, 0, PatternBytes(0, 3000, 2));
        b.container.Close();
        done.Send('d');
        return 0;
    });
    for (Pipe* p : {&held, &timedOut, &done})
        p->Close();
    EXPECT_EQ(Reap(second), 0);
    EXPECT_EQ(Reap(first), 0);

    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le(b, 106, 2), 2u);
    EXPECT_EQ(Text(b, 108, 16), NameField("FromA"));
    EXPECT_EQ(Text(b, 140, 16), NameField("FromB"));
    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    EXPECT_EQ(ReadAll(f.OpenStream("FromA", 1, 0, 1, 0)), PatternBytes(0, 3000, 1));
    EXPECT_EQ(ReadAll(f.OpenStream("FromB", 1, 0, 1, 0)), PatternBytes(0, 3000, 2));
}

// What the writer tells the reader: the writes of generation g that returned
// have put the stream's bytes [0, length) there. A negative length asks for an
// answer: -1 before the cut, once the reader has caught up; -2 after it, once
// the reader has seen the stream empty.
struct Progress {
    int32_t generation;
    int64_t length;
};

TEST(TKCompoundFileSharing, ReaderReadsEveryByteTheWritersReturnedWritesPutThere) {
    TempDir dir;
    const std::string path = dir.File("follow.eeg");
    const std::string lockPath = dir.File("follow.$lo");
    CreateEmpty(path);
    Pipe toReader, toWriter;
    const pid_t writer = Spawn([&] {
        KeepEnds({&toReader}, {&toWriter});
        Station w(lockPath);
        w.container.Open(path.c_str(), 0);
        CTKStream* s = w.container.CreateStream("EEGData", 1, 0, 1000);
        s->SetKeepWritesWhole(1);
        s->SetCommitOnGrowth(1);
        uint32_t seed = 12345;
        auto writeSome = [&](int generation, int count) {
            for (int i = 0; i < count; ++i) {
                seed = seed * 1103515245u + 12345u;
                WriteAll(s, PatternBytes(s->GetLength(), 50 + (seed >> 8) % 1300, generation));
                toReader.Send(Progress{generation, s->GetLength()});
            }
        };
        auto handshake = [&](Progress p) {
            char ack;
            toReader.Send(p);
            return toWriter.Receive(ack);
        };
        writeSome(0, 60);
        // Another stream's section lands behind this one's, so the trim keeps
        // the spare room as a released section, which the writes then reuse.
        WriteStream(w.container, "EventList", 1, 0, PatternBytes(0, 100));
        s->Trim(0);
        writeSome(0, 60);
        // A cut, then growth from the released sections.
        if (!handshake(Progress{0, -1}))
            return 2;
        s->Truncate();
        if (!handshake(Progress{1, -2}))
            return 3;
        writeSome(1, 80);
        toReader.Send(Progress{-1, 0});
        w.container.Close();
        return 0;
    });
    const pid_t reader = Spawn([&] {
        KeepEnds({&toWriter}, {&toReader});
        Station r(lockPath);
        Progress p{};
        if (!toReader.Receive(p))
            return 2;
        r.container.Open(path.c_str(), 1);
        CTKStream* s = r.container.OpenStream("EEGData", 1, 0, 1, 0);
        if (!s)
            return 3;
        int64_t checked = 0;
        int reads = 0;
        do {
            s->Refresh();
            if (p.length == -2 && s->GetLength() != 0)
                return 7;
            if (p.length < 0) {
                checked = 0;
                toWriter.Send('a');
                continue;
            }
            if (s->GetLength() < p.length)
                return 4;
            if (ReadRange(s, checked, p.length - checked) !=
                PatternBytes(checked, p.length - checked, p.generation))
                return 5;
            checked = p.length;
            ++reads;
        } while (toReader.Receive(p) && p.generation >= 0);
        return p.generation < 0 && reads == 60 + 60 + 80 ? 0 : 6;
    });
    toReader.Close();
    toWriter.Close();
    EXPECT_EQ(Reap(writer), 0);
    EXPECT_EQ(Reap(reader), 0);

    // The file holds the last generation, over sections of both kinds.
    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    CTKStream* s = f.OpenStream("EEGData", 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, s->GetLength(), 1));
}

}  // namespace
