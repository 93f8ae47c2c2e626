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
    p.SetMedications(std::string(70000, 'm').c_str());  // the long string form
    p.SetHistory(std::string(300, 'h').c_str());        // the medium string form
    p.SetBirthDate(25569.0);
    p.SetRecordDate(45000.5);
    p.SetSex(CPatientInfo::sexFemale);
    p.SetRecordStatus(CPatientInfo::rsReadyToArchive);
    p.SetQmSynched(1);
    return p;
}

}  // namespace

TEST(PatientInfo, StatusTextsAreDistinctAndSettersRefuseValuesOutsideTheirSets) {
    std::set<std::string> texts;
    for (int s = -1; s <= 7; ++s)
        texts.insert(CPatientInfo::Format(static_cast<CPatientInfo::RecordStatus>(s)).str());
    EXPECT_EQ(texts.size(), 9u);  // the seven statuses and the two values outside
    EXPECT_EQ(texts.count(""), 0u);
    EXPECT_EQ(CPatientInfo::Format(CPatientInfo::rsArchived), "Archived");

    CPatientInfo p = FullRecord();
    const CPatientInfo before = p;
    EXPECT_FALSE(p.SetRecordStatus(static_cast<CPatientInfo::RecordStatus>(7)));
    EXPECT_FALSE(p.SetRecordStatus(static_cast<CPatientInfo::RecordStatus>(-1)));
    EXPECT_FALSE(p.SetSex(static_cast<CPatientInfo::Sex>(2)));
    p.SetText(CPatientInfo::tfCount, "ignored");
    EXPECT_EQ(p, before);
    p.SetBirthDate(std::nan(""));
    EXPECT_EQ(p.GetBirthDateStatus(), CPatientInfo::dtInvalid);
    EXPECT_EQ(p.GetBirthDate(), 0.0);
    p.Initialize();
    EXPECT_EQ(p, CPatientInfo());
    EXPECT_EQ(p.GetBirthDateStatus(), CPatientInfo::dtNull);
}

TEST(PatientInfo, RoundTripsAndRefusesDamagedRecordsWithoutChange) {
    testsupport::TempDir dir;
    const std::string path = dir.File("patient");
    CPatientInfo full = FullRecord(), empty;
    CPatientInfo back;
    Store(path, full);
    Load(path, back);
    EXPECT_EQ(back, full);
    EXPECT_EQ(back.GetMedications().GetLength(), 70000);
    Store(path, empty);  // with its null dates
    Load(path, back);
    EXPECT_EQ(back, empty);

    const Bytes good = testsupport::ReadBytes(path);
    // Version (2), 28 empty strings (28), birth date (8 + 4), sex (4), status (4),
    // record date (8 + 4), Qm flag (4).
    ASSERT_EQ(good.size(), 2u + 28u + 12u + 4u + 4u + 12u + 4u);
    ExpectEveryPrefixIsEndOfFile<CPatientInfo>(path, good);
    back = full;
    const std::pair<size_t, unsigned char> damage[] = {
        {0, 0x5B},                // version 1
        {2 + 28 + 8, 3},          // birth date status 3
        {2 + 28 + 12, 2},         // sex 2
        {2 + 28 + 16, 7},         // record status 7
        {2 + 28 + 20 + 8, 0xFF},  // record date status 255
    };
    for (auto [offset, value] : damage) {
        Bytes bad = good;
        bad[offset] = value;
        ExpectLoadFails(path, bad, back, CArchiveException::badSchema);
        EXPECT_EQ(back, full) << "byte " << offset;
    }
    // The record's status sits where the comment above says.
    Bytes archived = good;
    archived[2 + 28 + 16] = 6;
    testsupport::WriteBytes(path, archived);
    Load(path, back);
    EXPECT_EQ(back.GetRecordStatus(), CPatientInfo::rsArchived);
}
