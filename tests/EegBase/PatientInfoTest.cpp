#include "EegBase/PatientInfo.h"

#include <cmath>
#include <set>
#include <string>

#include "BaseTestSupport.h"

using namespace basetest;

namespace {

CPatientInfo FullRecord() {
    CPatientInfo p;
    for (int f = 0; f < CPatientInfo::tfCount; ++f) {
        const auto field = static_cast<CPatientInfo::TextField>(f);
        p.SetText(field, ("text " + std::to_string(f)).c_str());
    }
    p.SetLastName("Lindqvist");
    p.SetMedications(std::string(70000, 'm').c_str());  // the long string form
    p.SetHistory(std::string(300, 'h').c_str());        // the medium string form
    p.SetBirthDate(25569.0);                            // 1970-01-01
    p.SetRecordDate(45000.5);
    p.SetSex(CPatientInfo::sexFemale);
    p.SetRecordStatus(CPatientInfo::rsReadyToArchive);
    p.SetQmSynched(1);
    return p;
}

}  // namespace

TEST(PatientInfo, FormatGivesEachStatusItsOwnText) {
    std::set<std::string> texts;
    for (int s = 0; s <= 6; ++s) {
        const CString t = CPatientInfo::Format(static_cast<CPatientInfo::RecordStatus>(s));
        EXPECT_FALSE(t.IsEmpty()) << s;
        texts.insert(t.str());
    }
    EXPECT_EQ(texts.size(), 7u);
    EXPECT_EQ(CPatientInfo::Format(CPatientInfo::rsArchived), "Archived");
    // Values outside the enumeration are told apart from every status and each other.
    const CString seven = CPatientInfo::Format(static_cast<CPatientInfo::RecordStatus>(7));
    const CString minus = CPatientInfo::Format(static_cast<CPatientInfo::RecordStatus>(-1));
    EXPECT_EQ(texts.count(seven.str()), 0u);
    EXPECT_NE(seven, minus);
}

TEST(PatientInfo, InitializeClearsEveryField) {
    CPatientInfo p = FullRecord();
    p.Initialize();
    EXPECT_EQ(p, CPatientInfo());
    for (int f = 0; f < CPatientInfo::tfCount; ++f) {
        EXPECT_TRUE(p.GetText(static_cast<CPatientInfo::TextField>(f)).IsEmpty());
    }
    EXPECT_EQ(p.GetBirthDateStatus(), CPatientInfo::dtNull);
    EXPECT_EQ(p.GetRecordDateStatus(), CPatientInfo::dtNull);
    EXPECT_EQ(p.GetSex(), CPatientInfo::sexUnset);
    EXPECT_EQ(p.GetRecordStatus(), CPatientInfo::rsReadyToRecord);
    EXPECT_EQ(p.GetQmSynched(), 0);
}

TEST(PatientInfo, SettersRefuseValuesOutsideTheirSets) {
    CPatientInfo p;
    EXPECT_TRUE(p.SetRecordStatus(CPatientInfo::rsArchived));
    EXPECT_FALSE(p.SetRecordStatus(static_cast<CPatientInfo::RecordStatus>(7)));
    EXPECT_FALSE(p.SetRecordStatus(static_cast<CPatientInfo::RecordStatus>(-1)));
    EXPECT_EQ(p.GetRecordStatus(), CPatientInfo::rsArchived);
    EXPECT_TRUE(p.SetSex(CPatientInfo::sexMale));
    EXPECT_FALSE(p.SetSex(static_cast<CPatientInfo::Sex>(2)));
    EXPECT_EQ(p.GetSex(), CPatientInfo::sexMale);
    p.SetBirthDate(std::nan(""));
    EXPECT_EQ(p.GetBirthDateStatus(), CPatientInfo::dtInvalid);
    EXPECT_EQ(p.GetBirthDate(), 0.0);
    p.SetText(CPatientInfo::tfCount, "ignored");
    EXPECT_TRUE(p.GetText(CPatientInfo::tfCount).IsEmpty());
    p.SetQmFileId("QM-1");
    EXPECT_EQ(p.GetText(CPatientInfo::tfQmFileId), "QM-1");
}

TEST(PatientInfo, RoundTripRestoresEveryField) {
    testsupport::TempDir dir;
    const std::string path = dir.File("patient");
    CPatientInfo p = FullRecord();
    Store(path, p);

    CPatientInfo back;
    Load(path, back);
    for (int f = 0; f < CPatientInfo::tfCount; ++f) {
        const auto field = static_cast<CPatientInfo::TextField>(f);
        EXPECT_EQ(back.GetText(field), p.GetText(field)) << "field " << f;
    }
    EXPECT_EQ(back.GetMedications().GetLength(), 70000);
    EXPECT_EQ(back.GetBirthDate(), 25569.0);
    EXPECT_EQ(back.GetBirthDateStatus(), CPatientInfo::dtValid);
    EXPECT_EQ(back.GetRecordDate(), 45000.5);
    EXPECT_EQ(back.GetSex(), CPatientInfo::sexFemale);
    EXPECT_EQ(back.GetRecordStatus(), CPatientInfo::rsReadyToArchive);
    EXPECT_EQ(back.GetQmSynched(), 1);
    EXPECT_EQ(back, p);

    // An initialised record, with its null dates, reads back the same.
    CPatientInfo empty;
    Store(path, empty);
    back = p;
    Load(path, back);
    EXPECT_EQ(back, empty);
}

TEST(PatientInfo, DamagedRecordsAreRefusedAndChangeNothing) {
    testsupport::TempDir dir;
    const std::string path = dir.File("patient");
    CPatientInfo empty;
    Store(path, empty);
    const Bytes good = testsupport::ReadBytes(path);
    // Version (2), 28 empty strings (28), birth date (8 + 4), sex (4), status (4),
    // record date (8 + 4), Qm flag (4).
    ASSERT_EQ(good.size(), 2u + 28u + 12u + 4u + 4u + 12u + 4u);
    ExpectEveryPrefixIsEndOfFile<CPatientInfo>(path, good);

    CPatientInfo into = FullRecord();
    const CPatientInfo before = into;
    auto refusedWith = [&](size_t offset, unsigned char value) {
        Bytes bad = good;
        bad[offset] = value;
        SCOPED_TRACE("byte " + std::to_string(offset));
        ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
        EXPECT_EQ(into, before);
    };
    refusedWith(0, 0x5B);                // version 1
    refusedWith(2 + 28 + 8, 3);          // birth date status 3
    refusedWith(2 + 28 + 12, 2);         // sex 2
    refusedWith(2 + 28 + 16, 7);         // record status 7
    refusedWith(2 + 28 + 20 + 8, 0xFF);  // record date status 255

    // The record's status sits where the comment above says.
    Bytes archived = good;
    archived[2 + 28 + 16] = 6;
    testsupport::WriteBytes(path, archived);
    Load(path, into);
    EXPECT_EQ(into.GetRecordStatus(), CPatientInfo::rsArchived);
}
