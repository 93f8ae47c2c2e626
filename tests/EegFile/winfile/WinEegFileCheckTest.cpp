// The check of a current-format recording: a sound one gives nothing and is left
// as it was; each kind of damage is named with its place; a writer that died is
// reported as an interrupted recording.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/events/CommentEvent.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using Bytes = std::vector<unsigned char>;

namespace {

void Record(const std::string& path, uint32_t seconds) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
    for (uint32_t s = 0; s < seconds; s += 10) {
        CEegDataChunk c = MakeChunk(s * kRate, 10 * kRate, true);
        file.WriteEegData(c);
    }
    file.AddEvent(new CCommentEvent(CEegTimeStamp(kRate), "one", 1));
    file.AddEvent(new CCommentEvent(CEegTimeStamp(2 * kRate), "two", 1));
    file.StopRecording();
    file.Close();
}

uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The file offset of the first section of name, copy 1 (walking the sections).
size_t SectionOf(const Bytes& b, const char* name) {
    for (size_t p = 0; p + 104 <= b.size(); p += Le32(b, p + 48)) {
        if (std::strcmp(reinterpret_cast<const char*>(&b[p + 8]), name) == 0 &&
            Le32(b, p + 56) == 1)
            return p;
        if (Le32(b, p + 48) == 0)
            break;
    }
    ADD_FAILURE() << "no section " << name;
    return 0;
}

std::string Problems(const CEegFileProblemList& list) {
    std::string text;
    for (const CEegFileProblem& p : list)
        text += std::string(p.m_where.GetString()) + ": " + p.m_what.GetString() + "\n";
    return text;
}

bool Has(const CEegFileProblemList& list, const std::string& where, const std::string& what) {
    for (const CEegFileProblem& p : list) {
        if (std::string(p.m_where.GetString()).find(where) != std::string::npos &&
            std::string(p.m_what.GetString()).find(what) != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

TEST(WinEegFileCheck, SoundFileGivesNothingAndEachDamageIsNamed) {
    TempDir dir;
    const std::string sound = dir.File("sound.eeg");
    Record(sound, 400);
    const Bytes good = ReadBytes(sound);
    struct stat before {};
    ::stat(sound.c_str(), &before);
    const CEegFileProblemList none = CEegFile::CheckFile(sound.c_str());
    EXPECT_TRUE(none.empty()) << Problems(none);
    // Nothing written: the same bytes and time, and no control or lock file left.
    struct stat after {};
    ::stat(sound.c_str(), &after);
    EXPECT_EQ(ReadBytes(sound), good);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_FALSE(std::filesystem::exists(dir.File("sound.$co")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("sound.$lo")));

    const size_t events = SectionOf(good, "EventList");
    const size_t data = SectionOf(good, "EEGData");
    struct Damage {
        const char* name;
        std::function<void(Bytes&)> apply;
        const char* where;
        const char* what;
    } damages[] = {
        {"zero tail", [](Bytes& b) { b.resize(b.size() + 8192, 0); }, "byte",
         "zeros after the last"},
        {"cut short", [&](Bytes& b) { b.resize(data + 5000); }, "EEGData copy 1, section 0",
         "file ends inside it"},
        {"garbage tail", [](Bytes& b) { b.insert(b.end(), 700, 0x41); }, "byte",
         "no valid section header"},
        {"trailer", [&](Bytes& b) { b[events + Le32(b, events + 48) - 20] ^= 1; },
         "EventList copy 1, section 0", "trailer"},
        // The second event's type word names no class.
        {"event type",
         [&](Bytes& b) {
             const auto two = std::search(b.begin() + static_cast<long>(events), b.end(),
                                          std::begin("two"), std::end("two") - 1);
             *(two - 17) = 0xFF;  // type word, versions, type, offset, priority, length
         },
         "EventList copy 1", "event 1 at byte"},
        {"annotation", [&](Bytes& b) { b[data + 72 + 16] ^= 4; }, "EEGData copy 1, section 0",
         "annotated seconds"},
        {"directory", [](Bytes& b) { b[104 + 4 + 16] ^= 0x40; }, "Directory record 0",
         "not a stream's first section"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        Bytes bytes = good;
        d.apply(bytes);
        const std::string path = dir.File(std::string(d.name) + ".eeg");
        WriteBytes(path, bytes);
        const CEegFileProblemList found = CEegFile::CheckFile(path.c_str());
        EXPECT_TRUE(Has(found, d.where, d.what)) << Problems(found);
        EXPECT_EQ(ReadBytes(path), bytes);
    }
    testsupport::ExpectFileError([&] { CEegFile::CheckFile(dir.File("missing.eeg").c_str()); },
                                 CFileException::fileNotFound);
}

TEST(WinEegFileCheck, AWriterThatDiedIsAnInterruptedRecording) {
    TempDir dir;
    const std::string path = dir.File("killed.eeg");
    accesstest::Child recorder("RECORDER", [&](accesstest::Child& self) {
        CWinEegFile file;
        StartRecording(file, path, 5);
        file.Synchronize();
        int32_t stored = 5;
        self.Send(stored);
        self.Receive(stored);  // killed while waiting here
        return 0;
    });
    int32_t stored = 0;
    ASSERT_TRUE(recorder.Receive(stored));
    // While the writer lives, the recording is in use, not interrupted.
    EXPECT_FALSE(Has(CEegFile::CheckFile(path.c_str(), 0), "", "interrupted"));
    recorder.Kill();
    const CEegFileProblemList found = CEegFile::CheckFile(path.c_str());
    EXPECT_TRUE(Has(found, "EEGData copy 1", "recording interrupted")) << Problems(found);
    EXPECT_TRUE(Has(found, "", "5 s kept")) << Problems(found);
    EXPECT_TRUE(Has(found, "killed.$co", "RECORDER (opening 1) is listed but holds"))
        << Problems(found);
    EXPECT_TRUE(Has(found, "", "2024-07-01 09:00:04")) << Problems(found);
}
