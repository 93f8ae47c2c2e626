// Several stations on one recording, each its own process with its own
// COMPUTERNAME. Each opens its own files after fork(): byte locks belong to the
// open file, which a forked child would otherwise share with its parent.

#include <tuple>

#include "AccessTestSupport.h"
#include "EegBase/BaseTestSupport.h"
#include "EegFile/container/ContainerTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"

using namespace accesstest;
using testsupport::ReadBytes;
using testsupport::WriteBytes;
using Bytes = std::vector<unsigned char>;
namespace fmt = EegControlFileFormat;

namespace {
// A control file written by hand: schema word, signature, count, entries.
Bytes ControlBytes(uint32_t count,
                   const std::vector<std::tuple<std::string, uint32_t, uint32_t>>& entries,
                   const std::string& signature = "TK-EEG-Control", uint16_t schema = 0x5A5A) {
    basetest::ByteWriter w;
    w.U16(schema).Str(signature).U32(count);
    for (const auto& [name, number, mode] : entries)
        w.Str(name).U32(number).U32(mode);
    return w.bytes();
}
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
        const std::string list = "HOLDER#1:" + std::to_string(held) + ";";
        for (int requested = 0; requested < 6; ++requested) {
            SCOPED_TRACE("held " + std::to_string(held) + ", requested " +
                         std::to_string(requested));
            const Reply r = asker.Call(Op::Take, requested);
            ASSERT_EQ(r.error, Reply::none) << r.text;
            EXPECT_EQ(r.result, granted[held][requested]);
            if (r.result)
                asker.Release();
            else
                EXPECT_EQ(r.text, list);  // the refused station knows who holds it
            EXPECT_EQ(ControlFileStations(rec.control), list);
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
    EXPECT_EQ(asker.Change(2), 0);
    EXPECT_EQ(holder.Change(4), 0);  // a reader is there
    EXPECT_EQ(ControlFileStations(rec.control), "HOLDER#1:3;ASKER#1:0;");
    asker.Release();
    EXPECT_EQ(holder.Change(4), 1);
    EXPECT_EQ(asker.Take(0), 0);
    holder.Release();
    EXPECT_TRUE(rec.Clean());
}

TEST(EegAccessControlStations, ControlFileBytesNumbersAndTheLastRelease) {
    Recording rec;
    Station twin1("TWIN", rec.path), twin2("TWIN", rec.path), other("OTHER", rec.path);
    ASSERT_EQ(twin1.Call(Op::Take, 2).number, 1);
    const Bytes one = ControlBytes(1, {{"TWIN", 1, 2}});
    ASSERT_EQ(one.size(), 34u);  // 2 + 1 + 14 + 4 + (1 + 4 + 4 + 4)
    EXPECT_EQ(ReadBytes(rec.control), one);
    EXPECT_TRUE(rec.Exists(rec.lock) && ReadBytes(rec.lock).empty());  // never written

    // The same computer again: number 2. Taking again first releases the old
    // entry, and the grant sees the first station's.
    ASSERT_EQ(twin2.Call(Op::Take, 0).number, 2);
    EXPECT_EQ(twin2.Take(2), 0);
    EXPECT_EQ(ControlFileStations(rec.control), "TWIN#1:2;");
    ASSERT_EQ(twin2.Call(Op::Take, 0).number, 2);
    ASSERT_EQ(other.Call(Op::Take, 1).number, 1);
    const Bytes three = ControlBytes(3, {{"TWIN", 1, 2}, {"TWIN", 2, 0}, {"OTHER", 1, 1}});
    EXPECT_EQ(ReadBytes(rec.control), three);

    // Releasing the first writes the shorter list over the longer one; the old
    // tail stays behind it, unread.
    twin1.Release();
    Bytes after = ControlBytes(2, {{"TWIN", 2, 0}, {"OTHER", 1, 1}});
    after.insert(after.end(), three.begin() + static_cast<long>(after.size()), three.end());
    EXPECT_EQ(ReadBytes(rec.control), after);
    EXPECT_EQ(twin1.Call(Op::Take, 0).number, 3);  // one above the highest of its name
    twin2.Release();
    other.Release();
    EXPECT_EQ(ControlFileStations(rec.control), "TWIN#3:0;");
    twin1.Release();
    EXPECT_TRUE(rec.Clean());
}

TEST(EegAccessControlStations, DamagedControlFilesAreRefusedAndLeftAsTheyWere) {
    Recording rec;
    Station station("GAMMA", rec.path);
    Bytes cutSignature = ControlBytes(0, {});
    cutSignature.resize(8);
    Bytes cutEntry = ControlBytes(2, {{"STATION-X", 1, 0}, {"STATION-Y", 1, 0}});
    cutEntry.resize(cutEntry.size() - 3);
    // Not a control file of ours, or too short to tell: code 10. A count beyond
    // the file or below zero, or an entry cut short: the archive's end of file,
    // before anything is allocated for the count.
    const std::pair<Bytes, int> cases[] = {
        {ControlBytes(0, {}, "TK-EEG-Kontrol"), 10},
        {ControlBytes(0, {}, "TK-EEG-Control", 0x5A5B), 10},
        {{0x5A}, 10},
        {cutSignature, 10},
        {ControlBytes(0x7FFFFFFF, {{"X", 1, 0}}), CArchiveException::endOfFile},
        {ControlBytes(0xFFFFFFFF, {}), CArchiveException::endOfFile},
        {cutEntry, CArchiveException::endOfFile},
    };
    for (const auto& [bytes, code] : cases) {
        WriteBytes(rec.control, bytes);
        const Reply r = station.Call(Op::Take, 0);
        EXPECT_EQ(r.error, code == 10 ? Reply::eegFile : Reply::archive) << r.text;
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(ReadBytes(rec.control), bytes);
    }
    // Every failure gave the control byte back and closed the lock file, which
    // can therefore be removed.
    EXPECT_EQ(LockProbe(rec.lock).Map(), "FFFFFFFFFFFFF");
    CFile::Remove(rec.lock.c_str());

    // An empty control file lists no station: even exclusive is granted.
    WriteBytes(rec.control, {});
    ASSERT_EQ(station.Take(4), 1);
    EXPECT_EQ(ControlFileStations(rec.control), "GAMMA#1:4;");
    // A mode unknown to this library in another entry refuses every request.
    WriteBytes(rec.control, ControlBytes(2, {{"GAMMA", 1, 4}, {"OLD", 1, 9}}));
    EXPECT_EQ(station.Change(0), 0);
    station.Release();
    EXPECT_EQ(ControlFileStations(rec.control), "OLD#1:9;");
}

TEST(EegAccessControlStations, BusyBytesTimeOutRecordingGoesOnAndAKillFreesThem) {
    Recording rec;
    Station reviewer("REVIEWER", rec.path), other("OTHER", rec.path),
        recorder("RECORDER", rec.path);
    ASSERT_EQ(reviewer.Take(0), 1);
    ASSERT_EQ(other.Take(0), 1);
    ASSERT_EQ(recorder.Take(2), 1);
    EXPECT_EQ(reviewer.Do(Op::Lock, fmt::kDirectoryByte, 1, 10000), 0);
    LockProbe probe(rec.lock);
    EXPECT_EQ(probe.Map(), "FFBFFFFFFFFFF");

    // A station that does not record times out, naming the lock file, and does
    // not mark the byte held (releasing it returns 0).
    Reply r = other.Call(Op::Lock, fmt::kDirectoryByte, 1, 200);
    EXPECT_EQ(r.error, Reply::container);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::string(r.text),
              "TK Compound File Error: File locking timeout.\n\n'" + rec.lock + "'");
    EXPECT_EQ(r.lockFailure, 0);
    EXPECT_EQ(other.Do(Op::Lock, fmt::kDirectoryByte, 0, 0), 0);

    // The recording station goes on: the lock failure is set, every other byte
    // is tried once and marked held, and from then on nothing is locked.
    recorder.Do(Op::WriterActive, 1);
    r = recorder.Call(Op::Lock, fmt::kDirectoryByte, 1, 200);
    EXPECT_EQ(r.error, Reply::none) << r.text;
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.lockFailure, 1);
    EXPECT_EQ(probe.Map(), "BBBBBBBBBBBBB");
    EXPECT_EQ(recorder.Do(Op::Lock, fmt::kWriterByte, 0, 200), 1);  // skipped: still held
    EXPECT_EQ(probe.Map(), "BBBBBBBBBBBBB");

    // Clearing writer active clears the failure; locking works again.
    recorder.Do(Op::WriterActive, 0);
    r = recorder.Call(Op::Lock, fmt::kWriterByte, 0, 200);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.lockFailure, 0);
    EXPECT_EQ(probe.Map(), "FBBBBBBBBBBBB");
    EXPECT_EQ(recorder.Do(Op::Lock, fmt::kDirectoryByte, 0, 200), 1);  // marked, never had
    EXPECT_EQ(recorder.Call(Op::Lock, fmt::kDirectoryByte, 1, 200).error, Reply::container);
    EXPECT_EQ(reviewer.Do(Op::Lock, fmt::kDirectoryByte, 0, 200), 1);
    EXPECT_EQ(recorder.Do(Op::Lock, fmt::kDirectoryByte, 1, 200), 0);

    // Stations killed while they hold bytes: the bytes are free at once, the
    // entries stay until a station of the same name clears them.
    recorder.Kill();
    EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
    EXPECT_EQ(reviewer.Do(Op::Lock, 5, 1, 200), 0);
    EXPECT_EQ(probe.Map(), "FFFFFBFFFFFFF");
    reviewer.Kill();
    EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
    probe.Close();
    EXPECT_EQ(ControlFileStations(rec.control), "REVIEWER#1:0;OTHER#1:0;RECORDER#1:2;");
    for (const auto& [name, writing] : {std::pair{"RECORDER", 1}, {"REVIEWER", 0}}) {
        const Reply c = Station(name, rec.path).Call(Op::RemoveEntries);
        EXPECT_EQ(c.error, Reply::none) << c.text;
        EXPECT_EQ(c.value, writing) << name;  // whether one of them could write
    }
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;");
    other.Release();
    EXPECT_TRUE(rec.Clean());
}

namespace {
containertest::Bytes StreamBytes(char tag, int round) {
    return containertest::PatternBytes(0, 3000, 2 * round + (tag == 'B'));
}

// Whether container holds stream <tag><round> with exactly its 3000 bytes.
bool HasStream(CTKCompoundFile& container, char tag, int round) {
    CTKStream* s = container.OpenStream((tag + std::to_string(round)).c_str(), 1, 0, 1, 0);
    if (!s)
        return false;
    containertest::Bytes got(3001);
    got.resize(s->Read(got.data(), 3001));
    container.CloseStream(s);
    return got == StreamBytes(tag, round);
}

// In each round the test starts, creates stream <tag><round> (3000 bytes in
// sections of 512: the file grows under the writer byte), then reports whether
// it sees the other station's stream of the round before.
int CreateStreams(Child& self, const std::string& path, char tag, int mode) {
    CEegAccessControl ac;
    ac.SetPaths(path.c_str());
    if (!ac.TakeMode(static_cast<CEegAccessControl::Mode>(mode)))
        return 2;
    CTKCompoundFile container;
    container.SetWriterHook(ac.GetWriterHook());
    container.SetDirectoryHook(ac.GetDirectoryHook());
    container.Open(path.c_str(), 0);
    int32_t round = 0;
    while (self.Receive(round) && round >= 0) {
        CTKStream* s = container.CreateStream((tag + std::to_string(round)).c_str(), 1, 0, 512);
        if (!s)
            return 3;
        containertest::WriteAll(s, StreamBytes(tag, round));
        container.CloseStream(s);
        self.Send(int32_t{round == 0 || HasStream(container, tag == 'A' ? 'B' : 'A', round - 1)});
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
        int32_t seenA = 0, seenB = 0;
        ASSERT_TRUE(a.Receive(seenA) && b.Receive(seenB)) << "round " << round;
        EXPECT_TRUE(seenA && seenB) << "round " << round;
    }
    ASSERT_TRUE(a.Send(int32_t{-1}) && b.Send(int32_t{-1}));
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    EXPECT_TRUE(rec.Clean());

    CTKCompoundFile f;
    f.Open(rec.path.c_str(), 1);
    for (int round = 0; round < kRounds; ++round) {
        EXPECT_TRUE(HasStream(f, 'A', round)) << round;
        EXPECT_TRUE(HasStream(f, 'B', round)) << round;
    }
}
