#include "EegFile/frame/EegFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EegFile/access/EegOpenFileList.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/events/MontageEvent.h"
#include "EegFile/events/TraceInfoEvent.h"
#include "FakeEegFile.h"
#include "Platform/File.h"
#include "Platform/Registry.h"
#include "TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(EegFile, ReadEegDataAtRestoresTheReadPosition) {
    CFakeEegFile file;
    CEegDataChunk chunk(100, 4);
    file.SetReadPosition(CEegTimeStamp(1234));
    file.m_SamplesAvailable = 50;
    EXPECT_EQ(file.ReadEegDataAt(CEegTimeStamp(400), chunk, 80), 50);
    EXPECT_EQ(file.GetReadPosition().GetSampleOffset(), 1234u);
    file.m_SamplesAvailable = 0;  // a read that returns nothing restores it too
    EXPECT_EQ(file.ReadEegDataAt(CEegTimeStamp(9000), chunk, 80), 0);
    EXPECT_EQ(file.GetReadPosition().GetSampleOffset(), 1234u);
    EXPECT_EQ(file.m_ReadsFrom, (std::vector<uint32_t>{400, 9000}));
}

TEST(EegFile, CheckForReadOnly) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    CFakeEegFile file;
    int readOnly = -1;

    // A missing file throws fileNotFound without an OS error and disables file access.
    testsupport::ExpectFileError([&] { file.CheckForReadOnly(path.c_str(), readOnly); },
                                 CFileException::fileNotFound, -1, path);
    EXPECT_EQ(file.FileAccessDisabled(), 1);

    WriteBytes(path, {1, 2, 3});
    CFakeEegFile writable;
    writable.CheckForReadOnly(path.c_str(), readOnly);
    EXPECT_EQ(readOnly, 0);

    // Forcing skips looking at the file, but a missing file still throws.
    writable.SetForceOpenAsReadOnly(1);
    writable.CheckForReadOnly(path.c_str(), readOnly);
    EXPECT_EQ(readOnly, 1);
    writable.SetForceOpenAsReadOnly(0);

    // The read-only attribute, honoured even for root.
    CFile::SetReadOnly(path.c_str(), true);
    writable.CheckForReadOnly(path.c_str(), readOnly);
    EXPECT_EQ(readOnly, 1);
    CFile::SetReadOnly(path.c_str(), false);

    // Another process holding the file with write sharing denied.
    testsupport::Pipe ready, done;
    const pid_t child = testsupport::Spawn([&] {
        testsupport::KeepEnds({&ready}, {&done});
        CFile holder(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
        ready.Send('r');
        return done.Get() == 'd' ? 0 : 2;
    });
    testsupport::KeepEnds({&done}, {&ready});
    ASSERT_EQ(ready.Get(), 'r');
    writable.CheckForReadOnly(path.c_str(), readOnly);
    EXPECT_EQ(readOnly, 1);
    done.Send('d');
    EXPECT_EQ(testsupport::Reap(child), 0);
    writable.CheckForReadOnly(path.c_str(), readOnly);
    EXPECT_EQ(readOnly, 0);
}

namespace {
CTraceInfo Trace(int act, int ref) {
    CTraceInfo t;
    t.SetActInput(static_cast<AmpInput::AmpInputType>(act));
    t.SetRefInput(static_cast<AmpInput::AmpInputType>(ref));
    return t;
}

CEegMontage Montage(std::initializer_list<std::pair<int, int>> channels) {
    CEegMontage m;
    int i = 0;
    for (auto [a, r] : channels)
        m.SetTraceInfo(i++, Trace(a, r));
    return m;
}

std::vector<int> Flags(const int* f) {
    return std::vector<int>(f, f + 8);
}

// Owns the events the fake file lists.
struct EventStore {
    std::vector<std::unique_ptr<CEegEvent>> events;
    void Add(CFakeEegFile& file, CEegEvent* e) {
        events.emplace_back(e);
        file.AddEvent(e);
    }
};
}  // namespace

TEST(EegFile, ExtractActRefPairSetting) {
    CFakeEegFile file;
    int flags[8] = {};
    // 24 against the common reference takes input 24 off the pair list for good;
    // 24 against 25 afterwards still makes 25 a pair input.
    file.ExtractActRefPairSetting(Montage({{24, 50}, {24, 25}}), flags);
    EXPECT_EQ(Flags(flags), (std::vector<int>{0, 1, 0, 0, 0, 0, 0, 0}));

    int pairs[8] = {};
    file.ExtractActRefPairSetting(Montage({{26, 27}, {0, 31}, {30, 2}, {5, 6}}), pairs);
    EXPECT_EQ(Flags(pairs), (std::vector<int>{0, 0, 1, 1, 0, 0, 1, 1}));

    // An average reference marks its inputs in 24-31.
    CEegMontage avg = Montage({{1, 51}});
    const AmpInput::AmpInputType inputs[] = {AmpInput::AmpInputType(3), AmpInput::AmpInputType(24),
                                             AmpInput::AmpInputType(29)};
    avg.SetAvgRef(CAverageReference(inputs, 3));
    int fromAvg[8] = {};
    file.ExtractActRefPairSetting(avg, fromAvg);
    EXPECT_EQ(Flags(fromAvg), (std::vector<int>{1, 0, 0, 0, 0, 1, 0, 0}));
}

TEST(EegFile, GetActRefArrayAtReplaysMontageAndTraceChanges) {
    CFakeEegFile file;
    EventStore store;
    CEegMontage first = Montage({{24, 25}, {1, 2}});
    store.Add(file, new CMontageEvent(CEegTimeStamp(100), &first));
    CTraceInfo t = Trace(26, 50);
    store.Add(file, new CTraceInfoEvent(CEegTimeStamp(200), 1, &t));
    CEegMontage second = Montage({{27, 28}});
    store.Add(file, new CMontageEvent(CEegTimeStamp(300), &second));

    int flags[8];
    std::fill(flags, flags + 8, 7);
    file.m_Amp.SetActRefCanUseCommon(false);
    file.GetActRefArrayAt(CEegTimeStamp(1000), flags);
    EXPECT_EQ(Flags(flags), std::vector<int>(8, 0));

    file.m_Amp.SetActRefCanUseCommon(true);
    file.GetActRefArrayAt(CEegTimeStamp(50), flags);
    EXPECT_EQ(Flags(flags), std::vector<int>(8, 0));
    file.GetActRefArrayAt(CEegTimeStamp(250), flags);
    EXPECT_EQ(Flags(flags), (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0}));
    // Later montages add to what earlier ones set; they never clear a flag.
    file.GetActRefArrayAt(CEegTimeStamp(300), flags);
    EXPECT_EQ(Flags(flags), (std::vector<int>{1, 1, 0, 1, 1, 0, 0, 0}));
}

TEST(EegFile, StaticsPickTheFormatByTheLastExtension) {
    for (const char* p : {"/data/PAT001.LOG", "/data/pat001.log", "rel/x.Log"})
        EXPECT_TRUE(CEegFile::IsDosRecordingPath(p)) << p;
    for (const char* p : {"/data/PAT001.LOG.bak", "/data.LOG/PAT001", "/data/x.eeg", "/data/LOG"})
        EXPECT_FALSE(CEegFile::IsDosRecordingPath(p)) << p;

    static std::vector<std::string> calls;
    calls.clear();
    CEegFile::FormatStatics win, dos;
    win.GetRecordStatus = [](const char* p, CPatientInfo::RecordStatus& s) {
        calls.push_back(std::string("win ") + p);
        s = CPatientInfo::rsReadyToRead;
        return 1;
    };
    dos.GetRecordStatus = [](const char* p, CPatientInfo::RecordStatus& s) {
        calls.push_back(std::string("dos ") + p);
        s = CPatientInfo::rsArchived;
        return 1;
    };
    dos.SetRecordStatus = [](const char* p, CPatientInfo::RecordStatus n,
                             CPatientInfo::RecordStatus e, CPatientInfo::RecordStatus* prev) {
        calls.push_back(std::string("dos set ") + p + " " + std::to_string(n) + " " +
                        std::to_string(e) + (prev ? " prev" : " null"));
        return 0;
    };
    const CEegFile::FormatStatics oldWin = CEegFile::SetFormatStatics(false, win);
    const CEegFile::FormatStatics oldDos = CEegFile::SetFormatStatics(true, dos);

    CPatientInfo::RecordStatus s = CPatientInfo::rsUnknown;
    EXPECT_EQ(CEegFile::GetRecordStatus("a.log", s), 1);
    EXPECT_EQ(s, CPatientInfo::rsArchived);
    EXPECT_EQ(CEegFile::GetRecordStatus("a.LOG.bak", s), 1);
    EXPECT_EQ(s, CPatientInfo::rsReadyToRead);
    EXPECT_EQ(CEegFile::SetRecordStatus("b.Log", CPatientInfo::rsReadyToArchive,
                                        CPatientInfo::rsAny, nullptr),
              0);
    // A format without that operation answers failure.
    CPatientInfo info;
    EXPECT_EQ(CEegFile::GetPatientInfo("c.eeg", info), 0);
    int result = 5;
    CEegFile::CleanUpOpenFile("c.log", CPatientInfo::rsReadyToRead, "", result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"dos a.log", "win a.LOG.bak", "dos set b.Log 3 4 null"}));

    CEegFile::SetFormatStatics(false, oldWin);
    CEegFile::SetFormatStatics(true, oldDos);
}

// This program names no current-format class: the statics reach the current
// format all the same, as a program linking the library statically needs.
TEST(EegFile, StaticsReachTheCurrentFormatWithoutNamingIt) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    // A patient record with status 3 and every other field empty or unset:
    // version word, 28 empty texts, birth date, sex, status, record date, Qm flag.
    std::vector<unsigned char> record = {0x5A, 0x5A};
    record.insert(record.end(), CPatientInfo::tfCount, 0);
    const std::vector<unsigned char> unsetDate = {0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0};
    for (const auto& part : {unsetDate,
                             {0xFF, 0xFF, 0xFF, 0xFF},
                             {3, 0, 0, 0},
                             unsetDate,
                             std::vector<unsigned char>(4, 0)})
        record.insert(record.end(), part.begin(), part.end());
    {
        CTKCompoundFile container;
        container.Create(path.c_str());
        CTKStream* s = container.CreateStream("Patient", 1, 0, 16000);
        ASSERT_NE(s, nullptr);
        s->Write(record.data(), static_cast<UINT>(record.size()));
        container.Close();
    }
    CPatientInfo::RecordStatus status = CPatientInfo::rsUnknown;
    ASSERT_EQ(CEegFile::GetRecordStatus(path.c_str(), status), 1);
    EXPECT_EQ(status, CPatientInfo::rsReadyToArchive);
    EXPECT_EQ(CEegFile::SetRecordStatus(path.c_str(), CPatientInfo::rsArchived,
                                        CPatientInfo::rsReadyToArchive, nullptr),
              1);
    ASSERT_EQ(CEegFile::GetRecordStatus(path.c_str(), status), 1);
    EXPECT_EQ(status, CPatientInfo::rsArchived);
}

TEST(EegFile, OpenFileListEntryCarriesTheStoredRecord) {
    TempDir dir;
    testsupport::ScopedEnv root("EEGFILE_REGISTRY_ROOT", dir.path().c_str());
    SetAppRegistryKey("Clinic", "Acq");
    CEegFile::FormatStatics win;
    win.GetPatientInfo = [](const char*, CPatientInfo& info) {
        info.SetRecordStatus(CPatientInfo::rsReadyToArchive);
        info.SetQmFileId("QM9");
        return 1;
    };
    const CEegFile::FormatStatics old = CEegFile::SetFormatStatics(false, win);
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.RemoveAll();

    CFakeEegFile file;
    file.SetFilePath("/data/rec.eeg");
    file.AddToOpenFileList();
    list.Load();  // what was stored, not just what is in memory
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetFileName(0), "/data/rec.eeg");
    EXPECT_EQ(list.GetFileStatus(0), CPatientInfo::rsReadyToArchive);
    EXPECT_EQ(list.GetQmFileId(0), "QM9");
    file.RemoveFromOpenFileList();
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);

    CEegFile::SetFormatStatics(false, old);
    SetAppRegistryKey(nullptr, nullptr);
}
