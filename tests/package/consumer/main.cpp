// Built against an installed EegFile: records a few seconds through CWinEegFile,
// reads them back through CEegFile and checks every sample, reads the record
// status by path and exports the recording to EDF+. Exits non-zero on any
// mismatch or failure.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <EegBase/AmpHardwareInfo.h>
#include <EegBase/EegDataChunk.h>
#include <EegBase/PatientInfo.h>
#include <EegFile/export/EdfExport.h>
#include <EegFile/frame/EegFile.h>
#include <EegFile/winfile/WinEegFile.h>
#include <Platform/String.h>
#include <unistd.h>

namespace {

constexpr int kRate = 200;
constexpr int kSeconds = 3;
constexpr int kChannels = 8;  // jacks 0-7

// A triangle wave of its own slope per slot. Its steps stay under 128, which
// the adaptive delta coding stores exactly.
int16_t Sample(int n, int slot) {
    const int t = n * (5 + slot) % 2000;
    return static_cast<int16_t>((t < 1000 ? t : 2000 - t) - 500);
}

int Fail(const char* what) {
    std::fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

int Run(const std::string& path, const std::string& edfPath) {
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < kChannels; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo amp;
    amp.SetInputDomain(CAmpInputDomain(inputs.data(), kChannels));

    CWinEegFile writer;
    writer.Create(path.c_str());
    writer.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, amp);
    writer.SetWriteThreadOnOff(1);
    writer.StartRecording(COleDateTime::GetCurrentTime());
    CEegDataChunk chunk(kRate / 4, 32);
    for (int n = 0; n < kSeconds * kRate; n += kRate / 4) {
        for (int i = 0; i < kRate / 4; ++i)
            for (int s = 0; s < 32; ++s)
                chunk.GetFrame(i)[s] = Sample(n + i, s);
        chunk.SetNumberOfSamples(kRate / 4);
        writer.WriteEegData(chunk);
    }
    writer.StopRecording();
    writer.SetWriteThreadOnOff(0);
    writer.Close();

    std::unique_ptr<CEegFile> reader = std::make_unique<CWinEegFile>();
    reader->Open(path.c_str(), 0);
    if (reader->GetLengthInSamples() != kSeconds * kRate)
        return Fail("length read back differs from the samples written");
    CEegDataChunk all(kSeconds * kRate, 32);
    if (!reader->ReadEegDataAt(CEegTimeStamp(0), all, kSeconds * kRate) ||
        all.GetNumberOfSamples() != kSeconds * kRate)
        return Fail("reading the samples back failed");
    for (int n = 0; n < kSeconds * kRate; ++n)
        for (int s = 0; s < kChannels; ++s)
            if (all.GetFrame(n)[s] != Sample(n, s))
                return Fail("a sample read back differs from the one written");

    // The by-path statics reach each format through a table that only the
    // installed link options bring in.
    if (!&CEegFile::CurrentFormatStatics || !&CEegFile::DosFormatStatics)
        return Fail("a format's by-path table was not linked in");
    CPatientInfo::RecordStatus status = CPatientInfo::rsUnknown;
    if (!CEegFile::GetRecordStatus(path.c_str(), status))
        return Fail("the record status could not be read by path");

    CEdfExport(*reader).Write(edfPath.c_str());
    reader->Close();
    char version[8] = {};
    std::ifstream edf(edfPath, std::ios::binary);
    if (!edf.read(version, sizeof version) || std::string(version, 8) != "0       ")
        return Fail("the export did not write an EDF header");
    return 0;
}

}  // namespace

int main() {
    std::string pattern = (std::filesystem::temp_directory_path() / "eegfile-consumer-XXXXXX");
    if (!::mkdtemp(pattern.data()))
        return Fail("no temporary folder");
    const std::filesystem::path dir = pattern;
    // The open-file list goes to a registry store of this run's own.
    ::setenv("EEGFILE_REGISTRY_ROOT", (dir / "registry").c_str(), 1);

    int result = 1;
    try {
        result = Run((dir / "consumer.eeg").string(), (dir / "consumer.edf").string());
    } catch (CException* e) {
        std::fprintf(stderr, "consumer: %s\n", e->GetErrorText().GetString());
        e->Delete();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    if (result == 0)
        std::printf("consumer: %d s on %d channels written, read back and exported\n", kSeconds,
                    kChannels);
    return result;
}
