// Several stations on one recording, each its own process with its own
// COMPUTERNAME: the grant rules, numbering, busy bytes and the recording
// station's lock failure, two stations creating container streams at once
// through the hooks, stations killed while they hold access, and eight stations
// opening and releasing a recording while some of them are killed.
//
// Each process opens its own files after fork(): byte locks belong to the
// open file, which a forked child would otherwise share with its parent. Pipes
// order the steps; nothing sleeps.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/mman.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "AccessTestSupport.h"
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/container/ContainerTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"
#include "Platform/File.h"
#include "Platform/System.h"
#include "TestSupport.h"

using namespace accesstest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fmt = EegControlFileFormat;

namespace {
struct Recording {
    TempDir dir;
    std::string path = dir.File("rec.eeg");
    std::string control = dir.File("rec.$co");
    std::string lock = dir.File("rec.$lo");
    bool Exists(const std::string& p) const { return std::filesystem::exists(p); }
    bool Clean() const { return !Exists(control) && !Exists(lock); }
};
}  // namespace

TEST(EegAccessControlStations, GrantRulesEveryRequestAgainstEveryHeldMode) {
    Recording rec;
    Station holder("HOLDER", rec.path), asker("ASKER", rec.path);
    // granted[held][requested]; requested 5 is no mode at all.
    const int granted[5][6] = {
        {1, 1, 1, 1, 0, 0},  // read
        {1, 0, 1, 0, 0, 0},  // read with mark
        {1, 1, 0, 0, 0, 0},  // write
        {1, 0, 0, 0, 0, 0},  // write with mark
        {0, 0, 0, 0, 0, 0},  // exclusive
    };
    for (int held = 0; held < 5; ++held) {
        ASSERT_EQ(holder.Take(held), 1);
        for (int requested = 0; requested < 6; ++requested) {
            SCOPED_TRACE("held " + std::to_string(held) + ", requested " +
                         std::to_string(requested));
            const Reply r = asker.Call(Op::Take, requested);
            ASSERT_EQ(r.error, Reply::none) << r.text;
            EXPECT_EQ(r.result, granted[held][requested]);
            if (r.result) {
                asker.Release();
            } else {
                // A refusal lists the holder, and the message names it.
                EXPECT_EQ(std::string(r.text), "HOLDER#1:" + std::to_string(held) + ";");
                const Reply m = asker.Call(Op::Message, 7);
                EXPECT_EQ(std::string(m.text),
                          "Tarnvik EEG File Error: Exclusive access mode is required.\n\n"
                          "The following station(s) are accessing this file:\n\tHOLDER");
            }
            EXPECT_EQ(ControlFileStations(rec.control), "HOLDER#1:" + std::to_string(held) + ";");
        }
        holder.Release();
        EXPECT_TRUE(rec.Clean());
    }

    // Changes are judged without the changer's own entry.
    ASSERT_EQ(holder.Take(2), 1);
    ASSERT_EQ(asker.Take(1), 1);
    EXPECT_EQ(holder.Change(3), 0);  // the asker marks
    EXPECT_EQ(asker.Change(0), 1);
    EXPECT_EQ(holder.Change(3), 1);
    EXPECT_EQ(asker.Change(1), 0);
    EXPECT_EQ(asker.Change(2), 0);
    EXPECT_EQ(holder.Change(4), 0);  // a reader is there
    EXPECT_EQ(ControlFileStations(rec.control), "HOLDER#1:3;ASKER#1:0;");
    asker.Release();
    EXPECT_EQ(holder.Change(4), 1);
    EXPECT_EQ(asker.Take(0), 0);
    holder.Release();
    EXPECT_TRUE(rec.Clean());
}

TEST(EegAccessControlStations, OneComputerNumbersItsOpeningsAndTheLastLeavesNoFile) {
    Recording rec;
    Station twin1("TWIN", rec.path), twin2("TWIN", rec.path), other("OTHER", rec.path);
    EXPECT_EQ(twin1.Call(Op::Take, 0).number, 1);
    EXPECT_EQ(twin2.Call(Op::Take, 0).number, 2);
    EXPECT_EQ(other.Call(Op::Take, 1).number, 1);
    EXPECT_EQ(ControlFileStations(rec.control), "TWIN#1:0;TWIN#2:0;OTHER#1:1;");
    twin1.Release();
    EXPECT_EQ(ControlFileStations(rec.control), "TWIN#2:0;OTHER#1:1;");
    EXPECT_EQ(twin1.Call(Op::Take, 0).number, 3);  // one above the highest of its name
    twin2.Release();
    other.Release();
    EXPECT_EQ(ControlFileStations(rec.control), "TWIN#3:0;");
    EXPECT_TRUE(rec.Exists(rec.lock));
    twin1.Release();
    EXPECT_TRUE(rec.Clean());

    // A control file that is not ours is refused with code 10 and left alone;
    // an empty one lists no station.
    testsupport::WriteBytes(rec.control, {0x5A, 0x5A, 3, 'A', 'B', 'C', 0, 0, 0, 0});
    const Reply r = other.Call(Op::Take, 0);
    EXPECT_EQ(r.error, Reply::eegFile);
    EXPECT_EQ(r.code, 10);
    EXPECT_EQ(ReadBytes(rec.control).size(), 10u);
    WriteBytes(rec.control, {});
    EXPECT_EQ(other.Take(4), 1);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:4;");
    other.Release();
    EXPECT_TRUE(rec.Clean());
}

TEST(EegAccessControlStations, BusyByteTimesOutUnlessTheStationRecords) {
    Recording rec;
    Station reviewer("REVIEWER", rec.path), other("OTHER", rec.path),
        recorder("RECORDER", rec.path);
    ASSERT_EQ(reviewer.Take(0), 1);
    ASSERT_EQ(other.Take(0), 1);
    ASSERT_EQ(recorder.Take(2), 1);
    EXPECT_EQ(reviewer.Do(Op::Lock, fmt::kDirectoryByte, 1, 10000), 0);
    LockProbe probe(rec.lock);
    EXPECT_EQ(probe.Map(), "FFBFFFFFFFFFF");

    // A station that does not record times out, naming the lock file.
    Reply r = other.Call(Op::Lock, fmt::kDirectoryByte, 1, 200);
    EXPECT_EQ(r.error, Reply::container);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::string(r.text),
              "TK Compound File Error: File locking timeout.\n\n'" + rec.lock + "'");
    EXPECT_EQ(r.lockFailure, 0);
    EXPECT_EQ(other.Call(Op::Lock, 5, 0, 0).value, 0);  // its marks are unchanged

    // The recording station goes on: the lock failure is set, every other byte
    // is tried once and marked held, and from then on nothing is locked.
    recorder.Do(Op::WriterActive, 1);
    r = recorder.Call(Op::Lock, fmt::kDirectoryByte, 1, 200);
    EXPECT_EQ(r.error, Reply::none) << r.text;
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.lockFailure, 1);
    EXPECT_EQ(probe.Map(), "BBBBBBBBBBBBB");
    EXPECT_EQ(recorder.Do(Op::Lock, fmt::kWriterByte, 0, 200), 1);  // skipped: still held
    EXPECT_FALSE(probe.Free(fmt::kWriterByte));
    EXPECT_EQ(recorder.Do(Op::Region, 0, 1, 1, 200), 1);
    // The control byte went to the recorder too: a reviewer's mode change waits
    // for it (here only 200 ms, through the byte itself).
    EXPECT_EQ(other.Call(Op::Lock, fmt::kControlByte, 1, 200).error, Reply::container);

    // Clearing writer active clears the failure; locking works again.
    recorder.Do(Op::WriterActive, 0);
    r = recorder.Call(Op::Lock, fmt::kWriterByte, 0, 200);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.lockFailure, 0);
    EXPECT_TRUE(probe.Free(fmt::kWriterByte));
    EXPECT_EQ(recorder.Do(Op::Lock, fmt::kDirectoryByte, 0, 200), 1);  // marked, never had
    r = recorder.Call(Op::Lock, fmt::kDirectoryByte, 1, 200);
    EXPECT_EQ(r.error, Reply::container);  // the reviewer has it
    EXPECT_EQ(reviewer.Do(Op::Lock, fmt::kDirectoryByte, 0, 200), 1);
    EXPECT_EQ(recorder.Do(Op::Lock, fmt::kDirectoryByte, 1, 200), 0);

    // Access released: every byte is free again.
    recorder.Release();
    EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
    probe.Close();
    reviewer.Release();
    other.Release();
    EXPECT_TRUE(rec.Clean());
}

namespace {
// Creates stream <tag><round> in each round the test starts, then checks that
// it sees the other station's stream of the round.
int CreateStreams(Child& self, const std::string& path, char tag, int mode) {
    CEegAccessControl ac;
    ac.SetPaths(path.c_str());
    if (!ac.TakeMode(static_cast<CEegAccessControl::Mode>(mode)))
        return 2;
    CTKCompoundFile container;
    container.SetWriterHook(ac.GetWriterHook());
    container.SetDirectoryHook(ac.GetDirectoryHook());
    container.Open(path.c_str(), 0);
    const char otherTag = tag == 'A' ? 'B' : 'A';
    int32_t round = 0;
    while (self.Receive(round) && round >= 0) {
        const std::string name = tag + std::to_string(round);
        CTKStream* s = container.CreateStream(name.c_str(), 1, 0, 512);
        if (!s)
            return 3;
        // 3000 bytes in sections of 512: the file grows under the writer byte.
        const auto bytes = containertest::PatternBytes(0, 3000, 2 * round + (tag == 'B'));
        s->Write(bytes.data(), static_cast<UINT>(bytes.size()));
        container.CloseStream(s);
        self.Send(int32_t{1});
        if (!self.Receive(round))
            return 4;
        const std::string otherName = otherTag + std::to_string(round);
        CTKStream* o = container.OpenStream(otherName.c_str(), 1, 0, 1, 0);
        int32_t seen = 0;
        if (o) {
            std::vector<unsigned char> got(3000);
            seen = o->Read(got.data(), 3000) == 3000 &&
                   got == containertest::PatternBytes(0, 3000, 2 * round + (otherTag == 'B'));
            container.CloseStream(o);
        }
        self.Send(seen);
    }
    container.Close();
    ac.Release();
    return 0;
}
}  // namespace

TEST(EegAccessControlStations, TwoStationsCreateStreamsAtOnceThroughTheHooks) {
    Recording rec;
    {
        CTKCompoundFile f;
        f.Create(rec.path.c_str());
    }
    constexpr int kRounds = 20;
    Child a("STATION-A", [&](Child& self) { return CreateStreams(self, rec.path, 'A', 2); });
    Child b("STATION-B", [&](Child& self) { return CreateStreams(self, rec.path, 'B', 1); });
    for (int32_t round = 0; round < kRounds; ++round) {
        // Both start together; whichever wins the directory byte, the other
        // waits for it and then adds its record to what the first wrote.
        ASSERT_TRUE(a.Send(round) && b.Send(round));
        int32_t createdA = 0, createdB = 0;
        ASSERT_TRUE(a.Receive(createdA) && b.Receive(createdB)) << "round " << round;
        ASSERT_TRUE(a.Send(round) && b.Send(round));
        int32_t seenA = 0, seenB = 0;
        ASSERT_TRUE(a.Receive(seenA) && b.Receive(seenB));
        EXPECT_EQ(seenA, 1) << "A does not see B" << round;
        EXPECT_EQ(seenB, 1) << "B does not see A" << round;
    }
    ASSERT_TRUE(a.Send(int32_t{-1}) && b.Send(int32_t{-1}));
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    EXPECT_TRUE(rec.Clean());

    CTKCompoundFile f;
    f.Open(rec.path.c_str(), 1);
    for (int round = 0; round < kRounds; ++round) {
        for (char tag : {'A', 'B'}) {
            const std::string name = tag + std::to_string(round);
            CTKStream* s = f.OpenStream(name.c_str(), 1, 0, 1, 0);
            ASSERT_NE(s, nullptr) << name;
            std::vector<unsigned char> got(3001);
            EXPECT_EQ(s->Read(got.data(), 3001), 3000u) << name;
            got.resize(3000);
            EXPECT_EQ(got, containertest::PatternBytes(0, 3000, 2 * round + (tag == 'B'))) << name;
        }
    }
}

TEST(EegAccessControlStations, KilledStationFreesItsBytesAndLeavesItsEntry) {
    Recording rec;
    Station other("OTHER", rec.path);
    ASSERT_EQ(other.Take(0), 1);
    for (int mode : {2, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Station victim("VICTIM", rec.path);
        ASSERT_EQ(victim.Take(mode), 1);
        EXPECT_EQ(victim.Do(Op::Lock, fmt::kDirectoryByte, 1, 1000), 0);
        EXPECT_EQ(victim.Do(Op::Region, 2, 1, 1, 1000), 0);  // byte 5
        LockProbe probe(rec.lock);
        EXPECT_EQ(probe.Map(), "FFBFFBFFFFFFF");
        victim.Kill();
        // The kernel dropped the dead station's locks with its open files.
        EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
        probe.Close();
        EXPECT_EQ(ControlFileStations(rec.control),
                  "OTHER#1:0;VICTIM#1:" + std::to_string(mode) + ";");

        // The same computer cleans up after its failure.
        Station cleaner("VICTIM", rec.path);
        const Reply r = cleaner.Call(Op::RemoveEntries);
        EXPECT_EQ(r.error, Reply::none) << r.text;
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.value, mode == 2 ? 1 : 0);  // whether it was writing
        EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;");
    }
    other.Release();
    EXPECT_TRUE(rec.Clean());
}

namespace {
// What a station in the stress test tells the test, one record per step.
struct Note {
    enum Kind : int32_t {
        takeBegin,    // a: mode
        takeEnd,      // a: granted, b: number
        changeBegin,  // a: mode
        changeEnd,    // a: granted
        releaseBegin,
        releaseEnd,
        seen,     // after a predecessor was killed: a: its entries, b: mode of the first
        cleaned,  // a: wasWriting
        done,     // the shared count of openings is used up
        final,    // a, b: numbers of the two read openings
        released,
    };
    int32_t kind;
    int32_t a = 0, b = 0;
};

constexpr int kStations = 8;
constexpr int kOpenings = 1000;
constexpr int kMaxKills = 10;

bool HasWriteRight(int mode) {
    return mode == 2 || mode == 3;
}

// The control file's entries of one name, read under the control byte.
void CountEntries(const std::string& lockPath, const std::string& controlPath, const CString& name,
                  int32_t& count, int32_t& mode) {
    CFile lock(lockPath.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                                     CFile::shareDenyNone);
    const uint32_t start = GetTickCount();
    while (!lock.TryLockRange(fmt::kControlByte, 1)) {
        if (TickDifference(GetTickCount(), start) > fmt::kLockTimeoutMs)
            AfxThrowFileException(CFileException::lockViolation, EAGAIN, lockPath.c_str());
    }
    count = 0;
    mode = -1;
    CFile control;
    if (control.Open(controlPath.c_str(), CFile::modeRead | CFile::shareDenyNone)) {
        CEegControlRecord record;
        ReadControlRecord(control, record);
        for (const CEegStationEntry& e : record.m_Stations) {
            if (e.m_Name == name && count++ == 0)
                mode = e.m_Mode;
        }
    }
    // Closing gives the byte back.
}

// One station of the stress test. A successor of a killed station first looks
// at what its predecessor left, then cleans it up.
int StressStation(Child& self, const std::string& path, std::atomic<int>* openings,
                  bool successor) {
    std::mt19937 rng(static_cast<unsigned>(::getpid()));
    CEegAccessControl ac;
    ac.SetPaths(path.c_str());
    if (successor) {
        Note seen{Note::seen};
        CountEntries(ac.GetLockFilePath().str(), ac.GetControlFilePath().str(),
                     ac.GetComputerName(), seen.a, seen.b);
        self.Send(seen);
        Note cleaned{Note::cleaned};
        ac.RemoveStationEntries(path.c_str(), cleaned.a);
        self.Send(cleaned);
    }
    while (openings->fetch_add(1) < kOpenings) {
        const int mode = static_cast<int>(rng() % 5);
        self.Send(Note{Note::takeBegin, mode});
        const int granted = ac.TakeMode(static_cast<CEegAccessControl::Mode>(mode));
        self.Send(Note{Note::takeEnd, granted, ac.GetStationNumber()});
        if (!granted)
            continue;
        if (rng() % 3 == 0) {
            const int next = static_cast<int>(rng() % 5);
            self.Send(Note{Note::changeBegin, next});
            self.Send(
                Note{Note::changeEnd, ac.ChangeMode(static_cast<CEegAccessControl::Mode>(next))});
        }
        self.Send(Note{Note::releaseBegin});
        ac.Release();
        self.Send(Note{Note::releaseEnd});
    }
    self.Send(Note{Note::done});
    char go;
    if (!self.Receive(go))
        return 3;
    CEegAccessControl first, second;
    first.SetPaths(path.c_str());
    second.SetPaths(path.c_str());
    const int n1 = first.TakeMode(CEegAccessMode::eamRead) ? first.GetStationNumber() : 0;
    const int n2 = second.TakeMode(CEegAccessMode::eamRead) ? second.GetStationNumber() : 0;
    self.Send(Note{Note::final, n1, n2});
    if (!self.Receive(go))
        return 3;
    first.Release();
    second.Release();
    self.Send(Note{Note::released});
    return 0;
}

// The test's view of one station process from its notes: the mode it holds
// (-1 none) and the step under way, whose outcome a kill leaves open.
struct Journal {
    int held = -1;
    int pendingKind = -1;
    int pendingMode = -1;

    void Apply(const Note& n) {
        switch (n.kind) {
            case Note::takeBegin:
            case Note::changeBegin:
                pendingKind = n.kind;
                pendingMode = n.a;
                break;
            case Note::takeEnd:
            case Note::changeEnd:
                if (n.a)
                    held = pendingMode;
                pendingKind = -1;
                break;
            case Note::releaseBegin:
                pendingKind = n.kind;
                break;
            case Note::releaseEnd:
                held = -1;
                pendingKind = -1;
                break;
            default:
                break;
        }
    }
    // What the control file may hold for the station after a kill: one mode, or
    // none (-1), before or after the step under way.
    std::set<int> Possible() const {
        std::set<int> p{held};
        if (pendingKind == Note::takeBegin || pendingKind == Note::changeBegin)
            p.insert(pendingMode);
        if (pendingKind == Note::releaseBegin)
            p.insert(-1);
        return p;
    }
};

struct Slot {
    std::string name;
    std::unique_ptr<Child> child;
    Journal journal;
    std::set<int> leftBehind;   // what killed predecessors may have left
    bool cleanPending = false;  // a successor that has not cleaned up yet
    bool done = false;
};
}  // namespace

TEST(EegAccessControlStations, EightStationsOpenAndReleaseWhileSomeAreKilled) {
    Recording rec;
    // The count of openings all stations share, in memory the children share.
    void* shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* openings = new (shared) std::atomic<int>(0);
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    std::vector<Slot> slots(kStations);
    auto start = [&](Slot& slot, bool successor) {
        const std::string path = rec.path;
        slot.child = std::make_unique<Child>(
            slot.name, [=](Child& self) { return StressStation(self, path, openings, successor); });
        slot.journal = Journal();
        slot.cleanPending = successor;
    };
    for (int i = 0; i < kStations; ++i) {
        slots[i].name = "ST" + std::to_string(i);
        start(slots[i], false);
    }

    // Reads the notes of every station until all are done, killing a station
    // now and then right after one of its notes, wherever it then is.
    int kills = 0, takes = 0, grants = 0, checkedKills = 0;
    bool failed = false;
    auto handle = [&](Slot& slot, const Note& n) {
        slot.journal.Apply(n);
        if (n.kind == Note::takeEnd) {
            ++takes;
            grants += n.a;
        } else if (n.kind == Note::seen) {
            // None lost, none doubled: at most one entry, and one the dead
            // station may have had.
            EXPECT_LE(n.a, 1) << slot.name;
            EXPECT_TRUE(slot.leftBehind.count(n.a ? n.b : -1))
                << slot.name << " left " << n.a << " entries, mode " << n.b;
            ++checkedKills;
        } else if (n.kind == Note::cleaned) {
            slot.cleanPending = false;
            bool may = false, mayNot = false;
            for (int m : slot.leftBehind)
                (HasWriteRight(m) ? may : mayNot) = true;
            if (!may) {
                EXPECT_EQ(n.a, 0) << slot.name;
            }
            if (!mayNot) {
                EXPECT_EQ(n.a, 1) << slot.name;
            }
        } else if (n.kind == Note::done) {
            slot.done = true;
        }
    };
    while (!failed) {
        std::vector<pollfd> fds;
        std::vector<Slot*> polled;
        for (Slot& s : slots) {
            if (!s.done) {
                fds.push_back({s.child->InFd(), POLLIN, 0});
                polled.push_back(&s);
            }
        }
        if (fds.empty())
            break;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            ASSERT_EQ(errno, EINTR);
            continue;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Slot& slot = *polled[i];
            Note n{};
            if (!slot.child->Receive(n)) {
                ADD_FAILURE() << slot.name << " ended early, exit " << slot.child->Wait();
                failed = true;
                break;
            }
            handle(slot, n);
            if (n.kind == Note::done || kills >= kMaxKills || rng() % 250 != 0)
                continue;
            // The kill lands wherever the station has got to meanwhile; what it
            // wrote before dying is still read.
            slot.child->Kill();
            ++kills;
            while (slot.child->Receive(n))
                handle(slot, n);
            // A successor killed before it cleaned up leaves what it found too.
            std::set<int> left = slot.journal.Possible();
            if (slot.cleanPending)
                left.insert(slot.leftBehind.begin(), slot.leftBehind.end());
            slot.leftBehind = left;
            slot.child->Wait();
            if (slot.done) {
                // Killed after its last note: nothing more to do, but clean up.
                slot.done = false;
            }
            start(slot, true);
        }
    }
    if (failed) {
        for (Slot& s : slots)
            s.child->Kill();
        return;
    }
    EXPECT_GT(kills, 0);
    EXPECT_EQ(checkedKills, kills);
    EXPECT_LE(takes, kOpenings);
    EXPECT_GT(grants, 0);
    std::printf("%d openings tried, %d granted, %d stations killed\n", takes, grants, kills);

    // Every station released, every dead one was cleaned up: nothing is left.
    EXPECT_EQ(ControlFileStations(rec.control), "<none>");
    EXPECT_FALSE(rec.Exists(rec.lock));

    // Now every station opens the recording twice for reading, at once.
    for (Slot& s : slots)
        ASSERT_TRUE(s.child->Send('g'));
    std::multiset<std::string> expected;
    for (Slot& s : slots) {
        Note n{};
        ASSERT_TRUE(s.child->Receive(n));
        ASSERT_EQ(n.kind, Note::final);
        EXPECT_EQ(n.a, 1) << s.name;
        EXPECT_EQ(n.b, 2) << s.name;
        expected.insert(s.name + "#1:0;");
        expected.insert(s.name + "#2:0;");
    }
    std::multiset<std::string> entries;
    const std::string list = ControlFileStations(rec.control);
    for (size_t at = 0, end; (end = list.find(';', at)) != std::string::npos; at = end + 1)
        entries.insert(list.substr(at, end - at + 1));
    EXPECT_EQ(entries, expected) << list;

    for (Slot& s : slots)
        ASSERT_TRUE(s.child->Send('r'));
    for (Slot& s : slots) {
        Note n{};
        ASSERT_TRUE(s.child->Receive(n));
        EXPECT_EQ(n.kind, Note::released);
        EXPECT_EQ(s.child->Wait(), 0) << s.name;
    }
    EXPECT_TRUE(rec.Clean());
    ::munmap(shared, sizeof(std::atomic<int>));
}
