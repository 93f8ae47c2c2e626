#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/events/Events.h"
#include "EegFile/frame/EegFileException.h"
#include "EventLogTestSupport.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using namespace eventlogtest;
using testsupport::TempDir;

namespace {

// A station as a process holding one CWinEegFile, driven command by command.
enum class Op : int32_t { Create, Open, Add, Sync, Remove, Drop, Write, Close };

struct Command {
    Op op;
    int32_t a = 0;
};

struct Reply {
    int32_t failed = 0;
    int32_t code = -1;  // of a CEegFileException
    int32_t mode = 0;
    int64_t readMark = 0;
    char text[2048] = {};  // events as "offset;" or the exception's stations
};

std::string Offsets(const CWinEegFile& file) {
    CEegEventList all;
    file.GetEventList(all, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    std::string s;
    for (int i = 0; i < all.GetSize(); ++i)
        s += std::to_string(all[i]->GetTimeStamp().GetSampleOffset()) + ";";
    return s;
}

int Serve(accesstest::Child& self, const std::string& path) {
    CWinEegFile file;
    uint32_t written = 0;  // samples, by a recording station
    Command c;
    while (self.Receive(c)) {
        Reply r;
        std::string text;
        try {
            switch (c.op) {
                case Op::Create:
                    file.Create(path.c_str());
                    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
                    file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
                    break;
                case Op::Open:
                    file.Open(path.c_str(), c.a);
                    break;
                case Op::Add:
                    file.AddEvent(new CBlockEvent(CEegTimeStamp(static_cast<uint32_t>(c.a))));
                    break;
                case Op::Sync:
                    file.Synchronize();
                    break;
                case Op::Remove: {
                    CEegEventList at;
                    const CEegTimeStamp t(static_cast<uint32_t>(c.a));
                    file.GetEventList(at, CEegEventMask::EmptyMask, t, t, 1, 0);
                    if (at.GetSize() == 1)
                        file.RemoveEvent(at[0]);
                    break;
                }
                case Op::Drop: {
                    // This computer's entries leave the control file, as a clean-up
                    // after a failure would take them, while the file stays open.
                    CEegAccessControl cleaner;
                    int wasWriting = 0;
                    cleaner.RemoveStationEntries(path.c_str(), wasWriting);
                    break;
                }
                case Op::Write: {
                    CEegDataChunk chunk =
                        MakeChunk(written, static_cast<uint32_t>(c.a) * kRate, true);
                    file.WriteEegData(chunk);
                    file.FlushWriteBuffer();
                    written += static_cast<uint32_t>(c.a) * kRate;
                    break;
                }
                case Op::Close:
                    file.Close();
                    break;
            }
            text = Offsets(file);
        } catch (CException* e) {
            r.failed = 1;
            if (auto* x = dynamic_cast<CEegFileException*>(e)) {
                r.code = x->GetErrorCode();
                for (const CString& name : x->GetStationNames())
                    text += name.str() + ";";
            } else {
                text = e->GetErrorText().str();
            }
            e->Delete();
        }
        r.mode = file.GetAccessMode();
        r.readMark = file.GetEventStore().GetReadMark();
        std::snprintf(r.text, sizeof r.text, "%s", text.c_str());
        if (!self.Send(r))
            return 2;
    }
    return 0;
}

class Station : public accesstest::Child {
public:
    Station(const std::string& name, const std::string& path)
        : Child(name, [path](Child& self) { return Serve(self, path); }) {}

    Reply Call(Op op, int32_t a = 0) {
        Reply r;
        Send(Command{op, a});
        if (!Receive(r)) {
            r.failed = 1;
            std::snprintf(r.text, sizeof r.text, "station gone");
        }
        return r;
    }
    // The events after a command that must succeed.
    std::string Do(Op op, int32_t a = 0) {
        const Reply r = Call(op, a);
        EXPECT_EQ(r.failed, 0) << r.text;
        return r.text;
    }
};

}  // namespace

TEST(WinEegFileEventStations, ReviewersAndRecorderShareOneEventLog) {
    TempDir dir;
    const std::string path = dir.File("shared.eeg");
    Station recorder("RECORDER", path);
    recorder.Do(Op::Create);
    recorder.Do(Op::Write, 2);
    recorder.Do(Op::Add, 50);
    Station alpha("ALPHA", path);
    Station beta("BETA", path);
    EXPECT_EQ(alpha.Do(Op::Open, 0), "50;");
    EXPECT_EQ(beta.Do(Op::Open, 0), "50;");

    // Each adds one event, the recorder between writing samples; every add
    // reads what the others appended before it.
    EXPECT_EQ(alpha.Do(Op::Add, 300), "50;300;");
    EXPECT_EQ(beta.Do(Op::Add, 100), "50;100;300;");
    recorder.Do(Op::Write, 1);
    EXPECT_EQ(recorder.Do(Op::Add, 200), "50;100;200;300;");
    EXPECT_EQ(alpha.Do(Op::Sync), "50;100;200;300;");
    EXPECT_EQ(beta.Do(Op::Sync), "50;100;200;300;");
    EXPECT_EQ(recorder.Do(Op::Sync), "50;100;200;300;");
    // One version word, then the records in the order they were appended.
    const Bytes shared = Log({50, 300, 100, 200});
    EXPECT_EQ(ReadStream(path, "EventList"), shared);
    EXPECT_EQ(beta.Call(Op::Sync).readMark, static_cast<int64_t>(shared.size()));

    // Removal needs the file alone: refused while others have it open, with
    // the stations that hold it, and the reviewer keeps its read access.
    const Reply refused = alpha.Call(Op::Remove, 300);
    EXPECT_EQ(refused.failed, 1);
    EXPECT_EQ(refused.code, 7);
    const std::string holders = refused.text;
    EXPECT_NE(holders.find("RECORDER"), std::string::npos) << holders;
    EXPECT_NE(holders.find("BETA"), std::string::npos) << holders;
    EXPECT_EQ(refused.mode, CEegAccessMode::eamRead);
    EXPECT_EQ(ReadStream(path, "EventList"), shared);

    // The recorder finishes; beta's entry is cleared while it still has the file
    // open, so alpha gets it alone and removes an event: the stream is rewritten
    // in time order.
    recorder.Do(Op::Close);
    beta.Do(Op::Drop);
    const Reply removed = alpha.Call(Op::Remove, 300);
    EXPECT_EQ(removed.failed, 0) << removed.text;
    EXPECT_STREQ(removed.text, "50;100;200;");
    EXPECT_EQ(removed.mode, CEegAccessMode::eamRead);
    EXPECT_EQ(ReadStream(path, "EventList"), Log({50, 100, 200}));

    // Beta's read mark lies beyond the new end: it reads nothing new, not even
    // after one more record, which ends where its mark stands...
    EXPECT_EQ(beta.Do(Op::Sync), "50;100;200;300;");
    EXPECT_EQ(alpha.Do(Op::Add, 400), "50;100;200;400;");
    EXPECT_EQ(ReadStream(path, "EventList").size(), shared.size());
    EXPECT_EQ(beta.Do(Op::Sync), "50;100;200;300;");
    // ...until the stream grows past it; then it reads on from its mark.
    EXPECT_EQ(alpha.Do(Op::Add, 500), "50;100;200;400;500;");
    EXPECT_EQ(beta.Do(Op::Sync), "50;100;200;300;500;");
    EXPECT_EQ(ReadStream(path, "EventList"), Log({50, 100, 200, 400, 500}));

    // A station opening now sees the log as it stands.
    alpha.Do(Op::Close);
    beta.Do(Op::Close);
    Station gamma("GAMMA", path);
    EXPECT_EQ(gamma.Do(Op::Open, 0), "50;100;200;400;500;");
    gamma.Do(Op::Close);
    EXPECT_EQ(alpha.Wait(), 0);
    EXPECT_EQ(beta.Wait(), 0);
    EXPECT_EQ(gamma.Wait(), 0);
    EXPECT_EQ(recorder.Wait(), 0);
}

TEST(WinEegFileEventStations, BrokenRecordFromAnotherStationIsRefusedEveryTime) {
    TempDir dir;
    const std::string path = dir.File("broken.eeg");
    Station writer("WRITER", path);
    writer.Do(Op::Create);
    writer.Do(Op::Add, 10);
    ::setenv("COMPUTERNAME", "READER", 1);
    {
        CWinEegFile reader;
        reader.Open(path.c_str(), 0);
        EXPECT_EQ(Offsets(reader), "10;");
        // The writer appends a good record and a record of an unknown type, as
        // a station with a damaged library would: the reader refuses the whole
        // batch, each time it tries, and keeps what it had.
        writer.Do(Op::Add, 20);
        {
            CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), "EventList", 1, 1024,
                                                           CFile::modeReadWrite);
            ASSERT_NE(f, nullptr);
            f->SeekToEnd();
            const Bytes bad = {0xB9, 0xA5, 0x5A, 0x5A, 0x5A, 0x5A, 0x1C, 0, 0, 0, 5, 0, 0, 0};
            f->Write(bad.data(), static_cast<UINT>(bad.size()));
            f->Close();
            delete f;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                reader.Synchronize();
                ADD_FAILURE() << "synchronised";
            } catch (CException* e) {
                auto* a = dynamic_cast<CArchiveException*>(e);
                EXPECT_NE(a, nullptr);
                if (a) {
                    EXPECT_EQ(a->m_cause, CArchiveException::badSchema);
                }
                e->Delete();
            }
            EXPECT_EQ(Offsets(reader), "10;");
            EXPECT_EQ(reader.GetEventStore().GetReadMark(), 16);
        }
        reader.Close();
    }
    ::unsetenv("COMPUTERNAME");
    writer.Do(Op::Close);
    EXPECT_EQ(writer.Wait(), 0);
}
