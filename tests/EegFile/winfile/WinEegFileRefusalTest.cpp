#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/access/EegOpenFileList.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using testsupport::ExpectThrows;
using testsupport::TempDir;

namespace {

void MakeRecording(const std::string& path, uint32_t seconds) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(Time(2024, 5, 6, 7, 8, 9));
    CEegDataChunk c = MakeChunk(0, seconds * kRate, true);
    file.WriteEegData(c);
    file.StopRecording();
    file.Close();
}

std::vector<uint8_t> ReadStream(const std::string& path, const char* name) {
    std::vector<uint8_t> bytes;
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, 1, 1024, CFile::modeRead);
    if (!f)
        return bytes;
    bytes.resize(f->GetLength());
    bytes.resize(f->Read(bytes.data(), static_cast<UINT>(bytes.size())));
    f->Close();
    delete f;
    return bytes;
}

void WriteStream(const std::string& path, const char* name, const std::vector<uint8_t>& bytes) {
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, 1, 1024, CFile::modeCreate);
    ASSERT_NE(f, nullptr);
    f->Write(bytes.data(), static_cast<UINT>(bytes.size()));
    f->Close();
    delete f;
}

void ExpectOpenCode(const std::string& path, int code) {
    CWinEegFile file;
    ExpectThrows<CEegFileException>(
        [&] { file.Open(path.c_str(), 0); },
        [&](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), code); });
    EXPECT_FALSE(file.IsOpen());
}

// Opens and reads everything; any outcome but a crash or a foreign exception is fine.
void OpenAndReadAnything(const std::string& path) {
    CWinEegFile file;
    try {
        file.Open(path.c_str(), 0);
        CEegDataChunk chunk(450, 32);
        while (file.ReadEegData(chunk, 450) && chunk.GetNumberOfSamples() > 0) {
        }
        file.Close();
    } catch (CException* e) {
        e->Delete();
    }
}

}  // namespace

TEST(WinEegFileRefusal, BadRecordsGiveTheirCodes) {
    TempDir dir;
    const std::string good = dir.File("good.eeg");
    MakeRecording(good, 3);
    const std::vector<uint8_t> header = ReadStream(good, "Header");
    const std::vector<uint8_t> patient = ReadStream(good, "Patient");
    ASSERT_GT(header.size(), 19u);
    ASSERT_EQ(header[0], 0x5A);
    ASSERT_EQ(header[2], 14);
    ASSERT_EQ(header[17], 0x5B);  // header version 1
    ASSERT_GT(patient.size(), 2u);

    struct Case {
        const char* stream;
        size_t at;
        uint8_t xorWith;
        int code;
    } cases[] = {
        {"Header", 0, 0x01, 3},   // file version 1
        {"Header", 3, 0x20, 9},   // "tarnvikOkenEEG": the signature is case-sensitive
        {"Header", 17, 0x06, 1},  // header version 7
        {"Patient", 1, 0x0F, 2},  // patient record version
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string path = dir.File("bad" + std::to_string(c.code) + ".eeg");
        std::filesystem::copy_file(good, path);
        std::vector<uint8_t> bytes = std::string(c.stream) == "Header" ? header : patient;
        bytes[c.at] ^= c.xorWith;
        WriteStream(path, c.stream, bytes);
        ExpectOpenCode(path, c.code);
        // Creating over it reads its record first: a damaged one stops the create,
        // as it stops the open. Once the file is gone, the refusals have left no
        // entry behind and the recording is created anew.
        CWinEegFile again;
        if (std::string(c.stream) == "Patient")
            ExpectThrows<CEegFileException>(
                [&] { again.Create(path.c_str()); },
                [&](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), c.code); });
        std::filesystem::remove(path);
        again.Create(path.c_str());
        again.Close();
    }

    // A header version 0 record has no channel field and means 32 channels.
    {
        const std::string path = dir.File("v0.eeg");
        std::filesystem::copy_file(good, path);
        std::vector<uint8_t> bytes = header;
        bytes[17] = 0x5A;
        bytes.erase(bytes.begin() + 19, bytes.begin() + 21);
        WriteStream(path, "Header", bytes);
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        EXPECT_EQ(file.GetMaxChannels(), 32);
        EXPECT_EQ(file.GetLengthInSamples(), 600u);
    }

    // A missing file.
    CWinEegFile file;
    ExpectThrows<CFileException>(
        [&] { file.Open(dir.File("none.eeg").c_str(), 0); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::fileNotFound); });

    // A read-only file opened for writing: writing raises code 12.
    const std::string ro = dir.File("ro.eeg");
    std::filesystem::copy_file(good, ro);
    ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
    CWinEegFile reader;
    reader.Open(ro.c_str(), 1);
    EXPECT_TRUE(reader.IsReadOnly());
    CEegDataChunk c = MakeChunk(600, 200, true);
    ExpectThrows<CEegFileException>([&] { reader.WriteEegData(c); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    EXPECT_EQ(reader.GetLengthInSamples(), 600u);
    reader.Close();
}

TEST(WinEegFileRefusal, AccessRefusedNamesTheHoldingStation) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    // The other station: creates (exclusive), then on command prepares (write).
    accesstest::Child station("RECORDER", [&](accesstest::Child& self) {
        CWinEegFile file;
        file.Create(path.c_str());
        int32_t step = 1;
        self.Send(step);
        if (!self.Receive(step))
            return 1;
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        self.Send(step);
        self.Receive(step);  // until the test is done
        file.Close();
        return 0;
    });
    int32_t step = 0;
    ASSERT_TRUE(station.Receive(step));
    auto expectCode = [&](int code, auto&& call) {
        ExpectThrows<CEegFileException>(call, [&](CEegFileException& e) {
            EXPECT_EQ(e.GetErrorCode(), code);
            ASSERT_EQ(e.GetStationNames().size(), 1u);
            EXPECT_EQ(e.GetStationNames()[0], CString("RECORDER"));
        });
    };
    {
        CWinEegFile file;
        expectCode(5, [&] { file.Open(path.c_str(), 0); });
    }
    ASSERT_TRUE(station.Send(step));
    ASSERT_TRUE(station.Receive(step));
    {
        CWinEegFile file;
        expectCode(6, [&] { file.Open(path.c_str(), 1); });
        expectCode(7, [&] { file.Create(path.c_str()); });
        // Neither refusal leaves this station's open-file list naming the file.
        CEegOpenFileList& list = GetTheEegOpenFileList();
        list.Load();
        for (int i = 0; i < list.GetCount(); ++i)
            EXPECT_NE(std::string(list.GetFileName(i)), path);
        // Reading beside the writer is allowed.
        CWinEegFile reader;
        reader.Open(path.c_str(), 0);
        EXPECT_EQ(reader.GetAccessMode(), CEegAccessMode::eamRead);
        EXPECT_TRUE(reader.IsEmpty());
    }
    station.Send(step);
    EXPECT_EQ(station.Wait(), 0);
}

TEST(WinEegFileRefusal, ModeChangeRefusedInPrepareGivesCode4) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    ::setenv("COMPUTERNAME", "RECORDER", 1);
    {
        CWinEegFile file;
        file.Create(path.c_str());
        // The same computer, restarted after a crash, clears its entries (ours
        // among them); then another station takes write access.
        accesstest::Child cleaner("RECORDER", [&](accesstest::Child& self) {
            CEegAccessControl ac;
            int32_t wasWriting = -1;
            const int32_t done = ac.RemoveStationEntries(path.c_str(), wasWriting);
            return self.Send(done) && self.Send(wasWriting) ? 0 : 1;
        });
        int32_t done = 0, wasWriting = -1;
        ASSERT_TRUE(cleaner.Receive(done));
        ASSERT_TRUE(cleaner.Receive(wasWriting));
        EXPECT_EQ(done, 1);
        EXPECT_EQ(cleaner.Wait(), 0);
        accesstest::Child other("OTHER", [&](accesstest::Child& self) {
            CEegAccessControl ac;
            ac.SetPaths(path.c_str());
            int32_t granted = ac.TakeMode(CEegAccessMode::eamWrite);
            self.Send(granted);
            self.Receive(granted);  // until the test is done
            ac.Release();
            return 0;
        });
        int32_t granted = 0;
        ASSERT_TRUE(other.Receive(granted));
        ASSERT_EQ(granted, 1);

        ExpectThrows<CEegFileException>(
            [&] { file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32()); },
            [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 4); });
        CEegDataChunk c = MakeChunk(0, kRate, true);
        file.StartRecording(Time(2024, 5, 6, 7, 8, 9));
        file.WriteEegData(c);  // not write enabled: ignored
        EXPECT_EQ(file.GetLengthInSamples(), 0u);
        file.Close();

        // The other station keeps its write access.
        CWinEegFile writer;
        ExpectThrows<CEegFileException>([&] { writer.Open(path.c_str(), 1); },
                                        [](CEegFileException& e) {
                                            EXPECT_EQ(e.GetErrorCode(), 6);
                                            ASSERT_EQ(e.GetStationNames().size(), 1u);
                                            EXPECT_EQ(e.GetStationNames()[0], CString("OTHER"));
                                        });
        other.Send(granted);
        EXPECT_EQ(other.Wait(), 0);
    }
    // What the refused preparation left is a recording that opens and records.
    CWinEegFile writer;
    writer.Open(path.c_str(), 1);
    writer.StartRecording(Time(2024, 5, 6, 8, 0, 0));
    CEegDataChunk c = MakeChunk(0, 2 * kRate, true);
    writer.WriteEegData(c);
    writer.StopRecording();
    EXPECT_EQ(writer.GetLengthInSamples(), 2u * kRate);
    writer.Close();
    CWinEegFile reader;
    reader.Open(path.c_str(), 0);
    CEegDataChunk out(2 * kRate, 32);
    EXPECT_EQ(reader.ReadEegData(out, 2 * kRate), 1);
    EXPECT_EQ(CountMismatches(out, 0, true), 0);
    reader.Close();
    ::unsetenv("COMPUTERNAME");
}

TEST(WinEegFileRefusal, CorruptFilesNeverCrash) {
    TempDir dir;
    const std::string good = dir.File("good.eeg");
    MakeRecording(good, 4);
    const std::vector<unsigned char> bytes = testsupport::ReadBytes(good);
    const std::string path = dir.File("bad.eeg");
    // Truncated at every 97th byte.
    for (size_t cut = 0; cut < bytes.size(); cut += 97) {
        testsupport::WriteBytes(path,
                                std::vector<unsigned char>(bytes.begin(), bytes.begin() + cut));
        OpenAndReadAnything(path);
    }
    // Random bytes changed.
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
    for (int i = 0; i < 300; ++i) {
        std::vector<unsigned char> b = bytes;
        for (int k = 0; k < 1 + i % 4; ++k)
            b[at(rng)] = static_cast<unsigned char>(rng());
        testsupport::WriteBytes(path, b);
        OpenAndReadAnything(path);
    }
    // The good file still reads whole.
    CWinEegFile file;
    file.Open(good.c_str(), 0);
    CEegDataChunk chunk(800, 32);
    EXPECT_EQ(file.ReadEegData(chunk, 800), 1);
    EXPECT_EQ(CountMismatches(chunk, 0, true), 0);
}
