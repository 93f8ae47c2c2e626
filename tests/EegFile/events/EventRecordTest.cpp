// Event records and stored event lists: bytes against hand-computed bytes, round
// trips of every type, the older versions that load, and damaged input.
#include <gtest/gtest.h>

#include <ctime>

#include "EventTestSupport.h"

using namespace eventtest;
using testsupport::ExpectThrows;
using testsupport::TempDir;

namespace {

template <class T>
Bytes RecordOf(const TempDir& dir, T& object) {
    return StoreBytes(dir, [&](CArchive& ar) { object.Serialize(ar); });
}

// The hand-computed record of each event of AllTypes(), in type order. The base
// library's own records inside them (impedance values, input domain, montage,
// trace) come from that library.
std::vector<Bytes> ExpectedRecords(const TempDir& dir) {
    CImpedanceValues values;
    values.SetImpedance(AmpInput::Fp1, 4.5);
    values.SetImpedance(AmpInput::Gnd, 12.0);
    const AmpInput::AmpInputType jacks[] = {AmpInput::Fp1, AmpInput::Fp2, AmpInput::CRef};
    CAmpInputDomain inputs(jacks, 3);
    CEegMontage bipolar = SampleMontage("Bipolar");
    CEegMontage review = SampleMontage("Review");
    CTraceInfo trace("T3-T5", AmpInput::T3, AmpInput::T5);

    std::vector<Bytes> r;
    r.push_back(
        ByteBuilder().head(1, 0, 100).u32(1).u32(2024).u32(3).u32(15).u32(10).u32(20).u32(30));
    r.push_back(
        ByteBuilder().head(0, 1, 200).f64(0x4049000000000000).f64(0x4024000000000000).u32(1));
    r.push_back(ByteBuilder()
                    .head(1, 2, 300)
                    .raw(RecordOf(dir, values))
                    .u32(33)
                    .raw(RecordOf(dir, inputs)));
    r.push_back(ByteBuilder().head(0, 3, 400).u32(33));
    r.push_back(ByteBuilder().head(0, 4, 500).raw(RecordOf(dir, bipolar)).str("Bipolar"));
    r.push_back(ByteBuilder().head(0, 5, 600).raw(RecordOf(dir, trace)).u32(7));
    r.push_back(ByteBuilder().head(0, 6, 700).u32(1).f64(0x404E000000000000));
    r.push_back(ByteBuilder().head(0, 7, 800).f64(0x4041800000000000));
    r.push_back(ByteBuilder().head(0, 8, 900).f64(0x4014000000000000));
    r.push_back(ByteBuilder().head(0, 9, 1000).f64(0x4024000000000000));
    r.push_back(ByteBuilder().head(0, 10, 1100).f64(0x402E000000000000));
    r.push_back(ByteBuilder().head(0, 11, 1200));
    r.push_back(ByteBuilder().head(0, 12, 1300).u16(8).str("Eyes closed"));
    r.push_back(ByteBuilder().head(0, 13, 1400).u16(2).str("Seizure"));
    r.push_back(ByteBuilder().head(0, 14, 1500).f64(0x4029000000000000));
    r.push_back(ByteBuilder().head(0, 15, 1600).u32(2).u32(1).u32(0));
    r.push_back(ByteBuilder().head(0, 16, 1700).u32(3725).u32(1));
    r.push_back(ByteBuilder().head(0, 17, 1800).u32(1).u32(5000));
    r.push_back(ByteBuilder().head(0, 18, 1900).u32(0).u32(0).u32(900));
    ByteBuilder addOn;
    addOn.head(0, 19, 2000).u8(7).u8(3).u16(0x1234).u16(9).u16(12);
    for (unsigned i = 0; i < 12; ++i)
        addOn.u8(0xA0 + i);
    r.push_back(addOn);
    r.push_back(ByteBuilder()
                    .head(0, 20, 2100)
                    .str("Spike")
                    .str("Spike found")
                    .u8(5)
                    .u16(6)
                    .u16(3)
                    .u8(1)
                    .u8(2)
                    .u8(3));
    r.push_back(ByteBuilder()
                    .head(0, 21, 2200)
                    .u32(2300)
                    .str("Look here")
                    .str("Review")
                    .raw(RecordOf(dir, review))
                    .f64(0x402E000000000000)
                    .f64(0x3FE0000000000000)
                    .f64(0x404E000000000000)
                    .f64(0x4008000000000000));
    r.push_back(ByteBuilder().head(2, 22, 2300).u32(2500).u32(3).str("artefact").u16(7));
    r.push_back(ByteBuilder().head(0, 23, 2400).str("Disk almost full"));
    r.push_back(ByteBuilder().head(0, 24, 2500).u32(3).u32(1000).u32(5000).u32(4));
    r.push_back(ByteBuilder().head(0, 25, 2600).u32(2));
    r.push_back(ByteBuilder().head(0, 26, 2700).f64(0x400C000000000000).u32(8));
    r.push_back(ByteBuilder()
                    .head(0, 27, 2800)
                    .u32(9)
                    .f64(0x3FF8000000000000)
                    .u16(3)
                    .u16(11)
                    .str("Spike 2.5 Hz"));
    return r;
}

void ExpectBadSchema(const TempDir& dir, const Bytes& bytes, CEegEventList& list) {
    ExpectThrows<CArchiveException>(
        [&] { LoadBytes(dir, bytes, [&](CArchive& ar) { list.Serialize(ar); }); },
        [](const CArchiveException& e) { EXPECT_EQ(e.m_cause, CArchiveException::badSchema); });
}

// Exposes the three-list load.
class CSplittingList : public CEegEventList {
public:
    using CEegEventList::SerializeLoad;
};

}  // namespace

TEST(EventRecord, ExamplesStoreTheirDocumentedBytes) {
    TempDir dir;
    CBlockEvent block(CEegTimeStamp(1000));
    EXPECT_EQ(RecordOf(dir, block),
              (Bytes{0x5A, 0x5A, 0x5A, 0x5A, 0x0B, 0, 0, 0, 0xE8, 0x03, 0, 0}));

    CCommentEvent comment(CEegTimeStamp(16), "", 3);
    const Bytes record{0x5A, 0x5A, 0x5A, 0x5A, 0x0C, 0, 0, 0, 0x10, 0, 0, 0, 0x03, 0x00, 0x00};
    EXPECT_EQ(RecordOf(dir, comment), record);

    CEegEventList list;
    list.Add(&comment);
    Bytes stored{0x5A, 0x5A, 0xA9, 0xA5};
    stored.insert(stored.end(), record.begin(), record.end());
    EXPECT_EQ(RecordOf(dir, list), stored);

    CEegEventList empty;
    EXPECT_EQ(RecordOf(dir, empty), (Bytes{0x5A, 0x5A}));
    CEegEventList loaded;
    loaded.Add(&block);  // a plain load empties the list first
    LoadBytes(dir, Bytes{0x5A, 0x5A}, [&](CArchive& ar) { loaded.Serialize(ar); });
    EXPECT_EQ(loaded.GetSize(), 0);

    // Add-on data: none stored for size 0.
    CAddOnEvent addOn(0, 1, 2, 3, CEegTimeStamp(5), 4);
    EXPECT_EQ(RecordOf(dir, addOn),
              Bytes(ByteBuilder().head(0, 19, 5).u8(1).u8(2).u16(3).u16(4).u16(0)));
}

TEST(EventRecord, EveryTypeStoresHandComputedBytes) {
    TempDir dir;
    auto events = AllTypes();
    const std::vector<Bytes> expected = ExpectedRecords(dir);
    ASSERT_EQ(events.size(), 28u);
    ByteBuilder list;
    list.u16(0x5A5A);
    CEegEventList all;
    for (size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "type " << i);
        ASSERT_EQ(events[i]->GetEventType(), static_cast<int>(i));
        EXPECT_EQ(RecordOf(dir, *events[i]), expected[i]);
        list.u16(static_cast<unsigned>(i) ^ 0xA5A5).raw(expected[i]);
        all.Add(events[i].get());
    }
    EXPECT_EQ(RecordOf(dir, all), list.bytes());
}

TEST(EventRecord, StoredListOfEveryTypeReadsBackEqual) {
    TempDir dir;
    auto events = AllTypes();
    CEegEventList all;
    // Stored in reverse time order, so that loading must sort them back.
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        all.Add(it->get());
    }
    const Bytes stored = RecordOf(dir, all);
    CEegEventList loaded;
    LoadBytes(dir, stored, [&](CArchive& ar) { loaded.Serialize(ar); });
    ASSERT_EQ(loaded.GetSize(), 28);
    for (int i = 0; i < 28; ++i)
        ExpectSameEvent(*events[static_cast<size_t>(i)], *loaded[i]);
    // Written again, the loaded list gives the same bytes.
    EXPECT_EQ(RecordOf(dir, loaded), stored);
    DeleteEvents(loaded);
}

TEST(EventRecord, OlderVersionsLoadAndAreWrittenCurrent) {
    TempDir dir;
    // A version 0 record event holds a CTime: the local breakdown of its seconds.
    const int32_t seconds = 1700000000;
    const Bytes v0 = ByteBuilder().u16(0x5A5A).u16(0 ^ 0xA5A5).head(0, 0, 77).u32(1).u32(seconds);
    CEegEventList list;
    LoadBytes(dir, v0, [&](CArchive& ar) { list.Serialize(ar); });
    ASSERT_EQ(list.GetSize(), 1);
    auto* record = static_cast<const CRecordEvent*>(list[0]);
    std::time_t t = seconds;
    std::tm tm{};
    ASSERT_NE(localtime_r(&t, &tm), nullptr);
    int recording = 0;
    CTKTime time;
    EXPECT_EQ(record->GetRecordData(recording, time), 1);
    EXPECT_EQ(recording, 1);
    EXPECT_EQ(time.m_wYear, tm.tm_year + 1900);
    EXPECT_EQ(time.m_wMonth, tm.tm_mon + 1);
    EXPECT_EQ(time.m_wDay, tm.tm_mday);
    EXPECT_EQ(time.m_wHour, tm.tm_hour);
    EXPECT_EQ(time.m_wMinute, tm.tm_min);
    EXPECT_EQ(time.m_wSecond, tm.tm_sec);
    EXPECT_EQ(time.m_wDayOfWeek, tm.tm_wday);
    CRecordEvent again = *record;
    EXPECT_EQ(RecordOf(dir, again), Bytes(ByteBuilder()
                                              .head(1, 0, 77)
                                              .u32(1)
                                              .u32(tm.tm_year + 1900)
                                              .u32(tm.tm_mon + 1)
                                              .u32(tm.tm_mday)
                                              .u32(tm.tm_hour)
                                              .u32(tm.tm_min)
                                              .u32(tm.tm_sec)));
    DeleteEvents(list);

    // A version 0 impedance event holds the readings only.
    CImpedanceValues values;
    values.SetImpedance(AmpInput::Cz, 7.0);
    const Bytes imp =
        ByteBuilder().u16(0x5A5A).u16(2 ^ 0xA5A5).head(0, 2, 50).raw(RecordOf(dir, values));
    LoadBytes(dir, imp, [&](CArchive& ar) { list.Serialize(ar); });
    ASSERT_EQ(list.GetSize(), 1);
    auto* impedance = static_cast<const CImpedanceEvent*>(list[0]);
    EXPECT_TRUE(impedance->GetImpedanceData() == values);
    EXPECT_EQ(impedance->GetRecordingRef(), AmpInput::NoInput);
    EXPECT_TRUE(impedance->GetImpInputDomain() == GetDefaultActInputDomain());
    DeleteEvents(list);
}

TEST(EventRecord, LoadingSortsByTimeAndKeepsStoredOrderOfEqualStamps) {
    TempDir dir;
    auto comment = [](uint32_t at, const char* text) {
        return ByteBuilder().u16(12 ^ 0xA5A5).head(0, 12, at).u16(5).str(text).bytes();
    };
    const Bytes stored = ByteBuilder()
                             .u16(0x5A5A)
                             .raw(comment(30, "a"))
                             .raw(comment(10, "b"))
                             .raw(comment(30, "c"))
                             .raw(comment(20, "d"))
                             .raw(comment(10, "e"));
    CEegEventList list;
    LoadBytes(dir, stored, [&](CArchive& ar) { list.Serialize(ar); });
    ASSERT_EQ(list.GetSize(), 5);
    const char* order[] = {"b", "e", "d", "a", "c"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(static_cast<const CCommentEvent*>(list[i])->GetComment(), order[i]);
    }

    // SerializeNoClear adds to what the list holds.
    CEegEventList three;
    CBlockEvent b1(CEegTimeStamp(15)), b2(CEegTimeStamp(25)), b3(CEegTimeStamp(35));
    three.Add(&b1);
    three.Add(&b2);
    three.Add(&b3);
    LoadBytes(dir, stored, [&](CArchive& ar) { three.SerializeNoClear(ar); });
    ASSERT_EQ(three.GetSize(), 8);
    EXPECT_EQ(three[2], &b1);
    EXPECT_EQ(three[4], &b2);
    EXPECT_EQ(three[7], &b3);
    for (int i : {0, 1, 3, 5, 6})
        delete three[i];

    // The three-list load also sorts out record and deletion events, adding to
    // what those lists hold.
    const Bytes mixed = ByteBuilder()
                            .u16(0x5A5A)
                            .u16(17 ^ 0xA5A5)
                            .head(0, 17, 40)
                            .u32(1)
                            .u32(90)
                            .u16(0 ^ 0xA5A5)
                            .head(1, 0, 5)
                            .u32(0)
                            .u32(2020)
                            .u32(1)
                            .u32(2)
                            .u32(3)
                            .u32(4)
                            .u32(5)
                            .raw(comment(7, "x"));
    CSplittingList split;
    CEegEventList records, deletions;
    records.Add(&b1);
    LoadBytes(dir, mixed, [&](CArchive& ar) {
        ar >> *std::make_unique<WORD>();  // the version word, read by Serialize otherwise
        split.SerializeLoad(ar, records, deletions);
    });
    ASSERT_EQ(split.GetSize(), 3);
    EXPECT_EQ(split[0]->GetEventType(), CEegEvent::etRecord);
    ASSERT_EQ(records.GetSize(), 2);
    EXPECT_EQ(records[0], split[0]);
    ASSERT_EQ(deletions.GetSize(), 1);
    EXPECT_EQ(deletions[0], split[2]);
    DeleteEvents(split);
    DeleteEvents(list);
}

TEST(EventRecord, BrokenListsKeepWhatWasReadBefore) {
    TempDir dir;
    CEegEventList list;
    const Bytes good = ByteBuilder()
                           .u16(0x5A5A)
                           .u16(11 ^ 0xA5A5)
                           .head(0, 11, 10)
                           .u16(23 ^ 0xA5A5)
                           .head(0, 23, 20)
                           .str("two");
    const Bytes third = ByteBuilder().u16(23 ^ 0xA5A5).head(0, 23, 30).str("three");
    // Cut anywhere inside the third entry: end of file, two events kept, the
    // third deleted (the leak checker would see it otherwise).
    for (size_t cut = 1; cut < third.size(); ++cut) {
        SCOPED_TRACE(cut);
        Bytes bytes = good;
        bytes.insert(bytes.end(), third.begin(), third.begin() + static_cast<long>(cut));
        ExpectThrows<CArchiveException>(
            [&] { LoadBytes(dir, bytes, [&](CArchive& ar) { list.Serialize(ar); }); },
            [](const CArchiveException& e) { EXPECT_EQ(e.m_cause, CArchiveException::endOfFile); });
        ASSERT_EQ(list.GetSize(), 2);
        EXPECT_EQ(list[1]->GetEventType(), CEegEvent::etSystem);
        DeleteEvents(list);
    }

    auto withThird = [&](const Bytes& entry) {
        Bytes bytes = good;
        bytes.insert(bytes.end(), entry.begin(), entry.end());
        return bytes;
    };
    // Type words of 28 and above.
    for (unsigned type : {28u, 29u, 0xFFFFu}) {
        ExpectBadSchema(dir, withThird(ByteBuilder().u16(type ^ 0xA5A5).head(0, type, 1)), list);
        EXPECT_EQ(list.GetSize(), 2);
        DeleteEvents(list);
    }
    // Versions no class reads: a comment of version 1, a base part of version 1,
    // data marks of versions 0 and 1, record and impedance events of version 2.
    ExpectBadSchema(dir, withThird(ByteBuilder().u16(12 ^ 0xA5A5).head(1, 12, 1).u16(3).str("")),
                    list);
    EXPECT_EQ(list.GetSize(), 2);
    DeleteEvents(list);
    ExpectBadSchema(
        dir, withThird(ByteBuilder().u16(12 ^ 0xA5A5).u16(0x5A5A).u16(0x5A5B).u32(12).u32(1)),
        list);
    DeleteEvents(list);
    for (unsigned v : {0u, 1u}) {
        ExpectBadSchema(
            dir,
            withThird(ByteBuilder().u16(22 ^ 0xA5A5).head(v, 22, 1).u32(2).u32(1).str("").u16(3)),
            list);
        DeleteEvents(list);
    }
    ExpectBadSchema(dir, withThird(ByteBuilder().u16(0 ^ 0xA5A5).head(2, 0, 1).u32(0).u32(0)),
                    list);
    DeleteEvents(list);
    ExpectBadSchema(dir, withThird(ByteBuilder().u16(2 ^ 0xA5A5).head(2, 2, 1)), list);
    DeleteEvents(list);
    // A record whose stored type is not its class's.
    ExpectBadSchema(dir, withThird(ByteBuilder().u16(11 ^ 0xA5A5).head(0, 4, 1)), list);
    DeleteEvents(list);
    // A list version other than 0 reads nothing.
    ExpectBadSchema(dir, Bytes{0x5B, 0x5A}, list);
    EXPECT_EQ(list.GetSize(), 0);
}
