// Event records and stored event lists: bytes against hand-computed bytes, round
// trips of every type, the older versions that load, and damaged input.
#include <gtest/gtest.h>

#include <ctime>

#include "EventTestSupport.h"

using namespace eventtest;
using testsupport::TempDir;

namespace {

template <class T>
Bytes RecordOf(const TempDir& dir, T& object) {
    return StoreBytes(dir, [&](CArchive& ar) { object.Serialize(ar); });
}

// The hand-computed record of each event of AllTypes(), in type order (stamps
// 100, 200, ...; doubles as IEEE bits, low byte first). The base library's own
// records inside them (impedance values, input domain, montage, trace) come
// from that library.
std::vector<Bytes> ExpectedRecords(const TempDir& dir) {
    CImpedanceValues values;
    values.SetImpedance(AmpInput::Fp1, 4.5);
    values.SetImpedance(AmpInput::Gnd, 12.0);
    const AmpInput::AmpInputType jacks[] = {AmpInput::Fp1, AmpInput::Fp2, AmpInput::CRef};
    CAmpInputDomain inputs(jacks, 3);
    CEegMontage bipolar = SampleMontage("Bipolar"), review = SampleMontage("Review");
    CTraceInfo trace("T3-T5", AmpInput::T3, AmpInput::T5);
    return {
        // Record, version 1: recording, then year 2024, month, day, hour, minute, second.
        Record(1, 0, 100, "01000000 e8070000 03000000 0f000000 0a000000 14000000 1e000000"),
        Record(0, 1, 200, "0000000000004940 0000000000002440 01000000"),  // 50 uV, 10 Hz, on
        Record(1, 2, 300) + RecordOf(dir, values) + Hex("21000000") + RecordOf(dir, inputs),
        Record(0, 3, 400, "21000000"),  // CRef
        Record(0, 4, 500) + RecordOf(dir, bipolar) + Hex("'Bipolar'"),
        Record(0, 5, 600) + RecordOf(dir, trace) + Hex("07000000"),
        Record(0, 6, 700, "01000000 0000000000004e40"),  // on, 60 Hz
        Record(0, 7, 800, "0000000000804140"),           // 35
        Record(0, 8, 900, "0000000000001440"),           // 5
        Record(0, 9, 1000, "0000000000002440"),          // 10
        Record(0, 10, 1100, "0000000000002e40"),         // 15
        Record(0, 11, 1200),
        Record(0, 12, 1300, "0800 'Eyes closed'"),
        Record(0, 13, 1400, "0200 'Seizure'"),
        Record(0, 14, 1500, "0000000000002940"),            // 12.5
        Record(0, 15, 1600, "02000000 01000000 00000000"),  // run, flags A, B
        Record(0, 16, 1700, "8d0e0000 01000000"),           // 3725 s, on
        Record(0, 17, 1800, "01000000 88130000"),           // start, other end 5000
        Record(0, 18, 1900, "00000000 00000000 84030000"),  // end, save, other end 900
        Record(0, 19, 2000, "07 03 3412 0900 0c00 a0a1a2a3a4a5a6a7a8a9aaab"),
        Record(0, 20, 2100, "'Spike' 'Spike found' 05 0600 0300 010203"),
        Record(0, 21, 2200, "fc080000 'Look here' 'Review'") + RecordOf(dir, review) +
            Hex("0000000000002e40 000000000000e03f 0000000000004e40 0000000000000840"),
        Record(2, 22, 2300, "c4090000 03000000 'artefact' 0700"),  // end 2500, EEG and video
        Record(0, 23, 2400, "'Disk almost full'"),
        Record(0, 24, 2500, "03000000 e8030000 88130000 04000000"),
        Record(0, 25, 2600, "02000000"),
        Record(0, 26, 2700, "0000000000000c40 08000000"),  // 3.5 V
        Record(0, 27, 2800, "09000000 000000000000f83f 0300 0b00 'Spike 2.5 Hz'"),
    };
}

// Loading bytes into list must fail with the archive's exception of cause.
void ExpectLoadFails(const TempDir& dir, const Bytes& bytes, CEegEventList& list,
                     int cause = CArchiveException::badSchema) {
    testsupport::ExpectArchiveError(
        [&] { LoadBytes(dir, bytes, [&](CArchive& ar) { list.Serialize(ar); }); }, cause);
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
    EXPECT_EQ(RecordOf(dir, block), Hex("5a5a 5a5a 0b000000 e8030000"));
    CCommentEvent comment(CEegTimeStamp(16), "", 3);
    EXPECT_EQ(RecordOf(dir, comment), Hex("5a5a 5a5a 0c000000 10000000 0300 00"));
    CEegEventList list;
    list.Add(&comment);
    EXPECT_EQ(RecordOf(dir, list), Hex("5a5a a9a5 5a5a 5a5a 0c000000 10000000 0300 00"));
    CEegEventList empty;
    EXPECT_EQ(RecordOf(dir, empty), Hex("5a5a"));
    empty.Add(&block);  // a plain load empties the list first
    LoadBytes(dir, Hex("5a5a"), [&](CArchive& ar) { empty.Serialize(ar); });
    EXPECT_EQ(empty.GetSize(), 0);
    // Add-on data: none stored for size 0.
    CAddOnEvent addOn(0, 1, 2, 3, CEegTimeStamp(5), 4);
    EXPECT_EQ(RecordOf(dir, addOn), Record(0, 19, 5, "01 02 0300 0400 0000"));
}

TEST(EventRecord, EveryTypeStoresHandComputedBytesAndReadsBackEqual) {
    TempDir dir;
    auto events = AllTypes();
    const std::vector<Bytes> expected = ExpectedRecords(dir);
    ASSERT_EQ(events.size(), 28u);
    Bytes list = Hex("5a5a");
    CEegEventList all;
    for (size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "type " << i);
        ASSERT_EQ(events[i]->GetEventType(), static_cast<int>(i));
        EXPECT_EQ(RecordOf(dir, *events[i]), expected[i]);
        list = list + Entry(expected[i]);
        all.Add(events[i].get());
    }
    EXPECT_EQ(RecordOf(dir, all), list);

    CEegEventList loaded;
    LoadBytes(dir, list, [&](CArchive& ar) { loaded.Serialize(ar); });
    ASSERT_EQ(loaded.GetSize(), 28);
    for (int i = 0; i < 28; ++i)
        ExpectSameEvent(*events[static_cast<size_t>(i)], *loaded[i]);
    EXPECT_EQ(RecordOf(dir, loaded), list);  // and written again, the same bytes
    DeleteEvents(loaded);
}

TEST(EventRecord, OlderVersionsLoadAndAreWrittenCurrent) {
    TempDir dir;
    // A version 0 record event holds a CTime: the local breakdown of its seconds.
    const std::time_t seconds = 1700000000;
    CEegEventList list;
    LoadBytes(dir, Hex("5a5a") + Entry(Record(0, 0, 77, "01000000 00f15365")),
              [&](CArchive& ar) { list.Serialize(ar); });
    ASSERT_EQ(list.GetSize(), 1);
    std::tm tm{};
    ASSERT_NE(localtime_r(&seconds, &tm), nullptr);
    const CTKTime local(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec);
    auto* record = static_cast<const CRecordEvent*>(list[0]);
    EXPECT_EQ(RecordData(*record), std::make_tuple(1, 1, local));
    EXPECT_EQ(std::get<2>(RecordData(*record)).m_wDayOfWeek, tm.tm_wday);
    CRecordEvent again = *record;
    Bytes current = Record(1, 0, 77, "01000000");
    for (int field : {local.m_wYear, local.m_wMonth, local.m_wDay, local.m_wHour, local.m_wMinute,
                      local.m_wSecond})
        current = current + Bytes{static_cast<unsigned char>(field),
                                  static_cast<unsigned char>(field >> 8), 0, 0};
    EXPECT_EQ(RecordOf(dir, again), current);
    DeleteEvents(list);

    // A version 0 impedance event holds the readings only.
    CImpedanceValues values;
    values.SetImpedance(AmpInput::Cz, 7.0);
    LoadBytes(dir, Hex("5a5a") + Entry(Record(0, 2, 50) + RecordOf(dir, values)),
              [&](CArchive& ar) { list.Serialize(ar); });
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
        return Entry(Record(0, 12, at, "0500 '" + std::string(text) + "'"));
    };
    const Bytes stored = Hex("5a5a") + comment(30, "a") + comment(10, "b") + comment(30, "c") +
                         comment(20, "d") + comment(10, "e");
    CEegEventList list;
    LoadBytes(dir, stored, [&](CArchive& ar) { list.Serialize(ar); });
    ASSERT_EQ(list.GetSize(), 5);
    const char* order[] = {"b", "e", "d", "a", "c"};
    for (int i = 0; i < 5; ++i)
        EXPECT_STREQ(static_cast<const CCommentEvent*>(list[i])->GetComment(), order[i]);
    DeleteEvents(list);

    // SerializeNoClear adds to what the list holds.
    CBlockEvent b1(CEegTimeStamp(15)), b2(CEegTimeStamp(25)), b3(CEegTimeStamp(35));
    for (const CEegEvent* e : {&b1, &b2, &b3})
        list.Add(e);
    LoadBytes(dir, stored, [&](CArchive& ar) { list.SerializeNoClear(ar); });
    ASSERT_EQ(list.GetSize(), 8);
    EXPECT_EQ(list[2], &b1);
    EXPECT_EQ(list[4], &b2);
    EXPECT_EQ(list[7], &b3);
    for (int i : {0, 1, 3, 5, 6})
        delete list[i];

    // The three-list load also sorts out record and deletion events, adding to
    // what those lists hold.
    const Bytes mixed = Entry(Record(0, 17, 40, "01000000 5a000000")) +
                        Entry(Record(1, 0, 5,
                                     "00000000 e4070000 01000000 02000000 03000000 "
                                     "04000000 05000000")) +
                        comment(7, "x");
    CSplittingList split;
    CEegEventList records, deletions;
    records.Add(&b1);
    LoadBytes(dir, mixed, [&](CArchive& ar) { split.SerializeLoad(ar, records, deletions); });
    ASSERT_EQ(split.GetSize(), 3);
    EXPECT_EQ(split[0]->GetEventType(), CEegEvent::etRecord);
    ASSERT_EQ(records.GetSize(), 2);
    EXPECT_EQ(records[0], split[0]);
    ASSERT_EQ(deletions.GetSize(), 1);
    EXPECT_EQ(deletions[0], split[2]);
    DeleteEvents(split);
}

TEST(EventRecord, BrokenListsKeepWhatWasReadBefore) {
    TempDir dir;
    CEegEventList list;
    const Bytes good = Hex("5a5a") + Entry(Record(0, 11, 10)) + Entry(Record(0, 23, 20, "'two'"));
    const Bytes third = Entry(Record(0, 23, 30, "'three'"));
    // Cut anywhere inside the third entry: end of file, two events kept, the
    // third deleted (the leak checker would see it otherwise).
    for (size_t cut = 1; cut < third.size(); ++cut) {
        SCOPED_TRACE(cut);
        ExpectLoadFails(dir, good + Bytes(third.begin(), third.begin() + static_cast<long>(cut)),
                        list, CArchiveException::endOfFile);
        ASSERT_EQ(list.GetSize(), 2);
        EXPECT_EQ(list[1]->GetEventType(), CEegEvent::etSystem);
        DeleteEvents(list);
    }
    // Type words of 28 and above; versions no class reads (a comment of version
    // 1, a base part of version 1, data marks of versions 0 and 1, record and
    // impedance events of version 2).
    const Bytes bad[] = {
        Entry(Record(0, 28, 1)),
        Entry(Record(0, 0xFFFF, 1)),
        Entry(Record(1, 12, 1, "0300 00")),
        Hex("a9a5 5a5a 5b5a 0c000000 01000000"),
        Entry(Record(0, 22, 1, "02000000 01000000 00 0300")),
        Entry(Record(1, 22, 1, "02000000 01000000 00 0300")),
        Entry(Record(2, 0, 1, "00000000 00000000")),
        Entry(Record(2, 2, 1)),
    };
    for (const Bytes& entry : bad) {
        SCOPED_TRACE(testing::PrintToString(entry));
        ExpectLoadFails(dir, good + entry, list);
        EXPECT_EQ(list.GetSize(), 2);
        DeleteEvents(list);
    }
    // A record whose type names another class than its type word keeps its
    // class's type, and the entries after it load.
    LoadBytes(dir, good + Hex("aea5") + Record(0, 4, 25) + third,
              [&](CArchive& ar) { list.Serialize(ar); });
    ASSERT_EQ(list.GetSize(), 4);
    EXPECT_EQ(list[2]->GetEventType(), CEegEvent::etBlock);
    EXPECT_NE(dynamic_cast<const CBlockEvent*>(list[2]), nullptr);
    EXPECT_EQ(list[2]->GetTimeStamp().GetSampleOffset(), 25u);
    EXPECT_EQ(list[3]->GetTimeStamp().GetSampleOffset(), 30u);
    DeleteEvents(list);
    // A list version other than 0 reads nothing.
    ExpectLoadFails(dir, Hex("5b5a"), list);
    EXPECT_EQ(list.GetSize(), 0);
}
