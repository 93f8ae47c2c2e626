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
#include <vector>

#include "ContainerTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace {
using namespace containertest;
using testsupport::ReadBytes;
using testsupport::TempDir;

void WriteAll(CTKStream* s, const Bytes& b) {
    s->Write(b.data(), static_cast<UINT>(b.size()));
}

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
    Station(const std::string& lockPath, int timeoutMs = 10000)
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

    f.Create(path.c_str());  // the directory's first section extends the file
    EXPECT_EQ(log, "D+ W+ W- D- ");
    log.clear();
    f.Close();
    EXPECT_EQ(log, "W- ");
    log.clear();

    f.Open(path.c_str(), 0);  // the load refreshes the directory, nested
    EXPECT_EQ(log, "D+ D+ D+ D- ");
    log.clear();

    // Creation: directory lock, its refresh nested in it, the writer lock for
    // the new section; the directory record fits the directory's section.
    CTKStream* s = f.CreateStream("Data", 1, 0, 1000);
    EXPECT_EQ(log, "D+ D+ D+ W+ W- D- ");
    log.clear();
    WriteAll(s, PatternBytes(0, 1000));  // inside the first section
    EXPECT_EQ(log, "");
    WriteAll(s, PatternBytes(1000, 1000));  // a new section at the file's end
    EXPECT_EQ(log, "W+ W- ");
    log.clear();
    f.CreateStream("After", 1, 0, 0);
    log.clear();
    s->Trim(0);  // the spare becomes a released section under the writer lock
    EXPECT_EQ(log, "W+ W- ");
    log.clear();
    WriteAll(s, PatternBytes(2000, 100));  // reuse needs no lock
    EXPECT_EQ(log, "");
    f.CloseStream(s);
    EXPECT_EQ(log, "");

    // An outer holder keeps the lock: nested takes give back what they found.
    directory.SetLockState(1);
    log.clear();
    f.OpenStream("Data", 1, 0, 1, 0);
    EXPECT_EQ(log, "D+ D+ D+ D+ ");
    EXPECT_EQ(directory.m_held, 1);
    directory.SetLockState(0);
    log.clear();

    // An open-ended stream holds the writer lock from its creation to its close.
    f.Close();
    log.clear();
    f.Open(path.c_str(), 0);
    log.clear();
    CTKStream* oe = f.CreateStream("Copy", 1, 1, 0);
    ASSERT_NE(oe, nullptr);
    EXPECT_EQ(writer.m_held, 1);
    EXPECT_EQ(directory.m_held, 0);
    log.clear();
    WriteAll(oe, PatternBytes(0, 5000));
    EXPECT_EQ(log, "");
    f.CloseStream(oe);
    EXPECT_EQ(log, "W- ");
    EXPECT_EQ(writer.m_held, 0);
}

TEST(TKCompoundFileSharing, SecondCreatorWaitsAndSeesTheFirstsRecord) {
    TempDir dir;
    const std::string path = dir.File("two.eeg");
    const std::string lockPath = dir.File("two.$lo");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
    }
    Pipe held, done;
    const pid_t first = Spawn([&] {
        Station a(lockPath);
        a.container.Open(path.c_str(), 0);
        a.directory.SetLockState(1);  // a reviewer holding the directory lock
        held.Send('h');
        CTKStream* s = a.container.CreateStream("FromA", 1, 0, 0);
        WriteAll(s, PatternBytes(0, 3000, 1));
        a.container.CloseStream(s);
        a.directory.SetLockState(0);
        char c;
        done.Receive(c);
        return 0;
    });
    const pid_t second = Spawn([&] {
        char c;
        if (!held.Receive(c))
            return 2;
        Station b(lockPath);
        b.container.Open(path.c_str(), 0);  // waits for the directory lock
        CTKStream* s = b.container.CreateStream("FromB", 1, 0, 0);
        WriteAll(s, PatternBytes(0, 3000, 2));
        b.container.Close();
        done.Send('d');
        return 0;
    });
    EXPECT_EQ(Reap(second), 0);
    EXPECT_EQ(Reap(first), 0);

    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le(b, 106, 2), 2u);
    EXPECT_EQ(Text(b, 108, 16), NameField("FromA"));
    EXPECT_EQ(Text(b, 140, 16), NameField("FromB"));
    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    for (int i = 1; i <= 2; ++i) {
        CTKStream* s = f.OpenStream(i == 1 ? "FromA" : "FromB", 1, 0, 1, 0);
        ASSERT_NE(s, nullptr);
        Bytes got(3000);
        EXPECT_EQ(s->Read(got.data(), 3000), 3000u);
        EXPECT_EQ(got, PatternBytes(0, 3000, i));
    }
}

TEST(TKCompoundFileSharing, LockTimeOutNamesTheLockFile) {
    TempDir dir;
    const std::string path = dir.File("busy.eeg");
    const std::string lockPath = dir.File("busy.$lo");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
    }
    Pipe held, release;
    const pid_t reviewer = Spawn([&] {
        Station a(lockPath);
        a.directory.SetLockState(1);
        held.Send('h');
        char c;
        release.Receive(c);
        return 0;
    });
    char c;
    ASSERT_TRUE(held.Receive(c));
    const pid_t creator = Spawn([&] {
        Station b(lockPath, 100);
        int code = ContainerCode([&] { b.container.Open(path.c_str(), 0); });
        if (code != CTKCompoundFileException::lockTimeout)
            return 10 + code;
        try {
            b.container.Open(path.c_str(), 0);
        } catch (CException* e) {
            auto* ce = dynamic_cast<CTKCompoundFileException*>(e);
            const bool names =
                ce && ce->m_strFileName == lockPath.c_str() &&
                std::string(ce->GetErrorText()).find("File locking timeout.") != std::string::npos;
            e->Delete();
            if (!names)
                return 3;
        }
        // The file stays open without a usable directory until it is closed.
        if (!b.container.IsOpen() || b.container.CreateStream("X", 1, 0, 0))
            return 4;
        b.container.Close();
        return b.container.IsOpen() ? 5 : 0;
    });
    EXPECT_EQ(Reap(creator), 0);
    release.Send('r');
    EXPECT_EQ(Reap(reviewer), 0);
}

// What the writer tells the reader: the writes of generation g that returned
// have put the stream's bytes [0, length) there. length -1 announces a cut.
struct Progress {
    int32_t generation;
    int64_t length;
};

TEST(TKCompoundFileSharing, ReaderReadsEveryByteTheWritersReturnedWritesPutThere) {
    TempDir dir;
    const std::string path = dir.File("follow.eeg");
    const std::string lockPath = dir.File("follow.$lo");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
    }
    Pipe toReader, toWriter;
    const pid_t writer = Spawn([&] {
        Station w(lockPath);
        w.container.Open(path.c_str(), 0);
        CTKStream* s = w.container.CreateStream("EEGData", 1, 0, 1000);
        s->SetKeepWritesWhole(1);
        s->SetCommitOnGrowth(1);
        uint32_t seed = 12345;
        auto nextSize = [&] {
            seed = seed * 1103515245u + 12345u;
            return 50 + static_cast<int64_t>((seed >> 8) % 1300);
        };
        auto writeSome = [&](int generation, int count) {
            for (int i = 0; i < count; ++i) {
                const int64_t at = s->GetLength();
                WriteAll(s, PatternBytes(at, nextSize(), generation));
                toReader.Send(Progress{generation, s->GetLength()});
            }
        };
        writeSome(0, 60);
        // Another stream's section lands behind this one's, so the trim keeps
        // the spare room as a released section, which the writes then reuse.
        CTKStream* events = w.container.CreateStream("EventList", 1, 0, 0);
        WriteAll(events, PatternBytes(0, 100));
        w.container.CloseStream(events);
        s->Trim(0);
        writeSome(0, 60);
        // A cut, once the reader has caught up; then growth from the released sections.
        toReader.Send(Progress{0, -1});
        char ack;
        if (!toWriter.Receive(ack))
            return 2;
        s->Truncate();
        toReader.Send(Progress{1, 0});
        writeSome(1, 80);
        toReader.Send(Progress{-1, 0});
        w.container.Close();
        return 0;
    });
    const pid_t reader = Spawn([&] {
        Station r(lockPath);
        Progress p{};
        if (!toReader.Receive(p))
            return 2;
        r.container.Open(path.c_str(), 1);
        CTKStream* s = r.container.OpenStream("EEGData", 1, 0, 1, 0);
        if (!s)
            return 3;
        int64_t checked = 0;
        int generation = 0;
        int64_t reads = 0;
        for (; p.generation >= 0; toReader.Receive(p)) {
            if (p.length < 0) {
                toWriter.Send('a');
                continue;
            }
            if (p.generation != generation) {
                generation = p.generation;
                checked = 0;
            }
            s->Refresh();
            if (s->GetLength() < p.length) {
                fprintf(stderr, "reader: length %lld, writer said %lld\n",
                        static_cast<long long>(s->GetLength()), static_cast<long long>(p.length));
                return 4;
            }
            Bytes got(static_cast<size_t>(p.length - checked));
            s->Seek(checked);
            if (s->Read(got.data(), static_cast<UINT>(got.size())) != got.size() ||
                got != PatternBytes(checked, p.length - checked, generation)) {
                fprintf(stderr, "reader: bytes %lld..%lld differ\n",
                        static_cast<long long>(checked), static_cast<long long>(p.length));
                return 5;
            }
            checked = p.length;
            ++reads;
        }
        return reads == 60 + 60 + 1 + 80 ? 0 : 6;
    });
    EXPECT_EQ(Reap(writer), 0);
    EXPECT_EQ(Reap(reader), 0);

    // The file holds the last generation, over sections of both kinds.
    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    CTKStream* s = f.OpenStream("EEGData", 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    Bytes all(static_cast<size_t>(s->GetLength()));
    ASSERT_EQ(s->Read(all.data(), static_cast<UINT>(all.size())), all.size());
    EXPECT_EQ(all, PatternBytes(0, s->GetLength(), 1));
}

}  // namespace
