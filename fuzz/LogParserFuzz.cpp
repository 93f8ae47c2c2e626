// libFuzzer target: the bytes are the text log of a legacy recording. The log is
// parsed whole, and again in two steps (a first part, then the rest appended and
// parsed by a second update, as a station reads a log that another one is still
// writing). A parse either succeeds or throws the log's exception for a file list
// that ends with a cut file; anything else, or a crash, leak or hang, is a fault.
//
// What was parsed is then walked: the events are in time order and render as
// text, the file list stays in bounds, both parses stop at the same byte, and
// seconds are read through CDosEegData from a few fixed data files beside the log.
//
// Built and run by scripts/fuzz log, never by the ordinary build.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "EegFile/dos/DosEegData.h"
#include "EegFile/dos/DosFileException.h"
#include "EegFile/dos/DosLogFile.h"
#include "EegFile/events/EegEvent.h"
#include "Platform/Exception.h"
#include "Platform/File.h"

namespace {

constexpr int kSlots = 32;
constexpr short kUntouched = 0x5A5A;

// A folder of this process's own, so that the data file names the log gives
// (EEG00001.000, EEG00001.A01, ...) find only the files put there below. It is
// removed when the process exits normally.
class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("FUZZ_TMPDIR");
        m_path = std::string(base ? base : "/tmp") + "/log-fuzz-" + std::to_string(::getpid());
        std::filesystem::remove_all(m_path);
        if (::mkdir(m_path.c_str(), 0700) != 0)
            std::abort();
    }
    ~TempFolder() { std::filesystem::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

const std::string& Folder() {
    static const TempFolder folder;
    return folder.Path();
}

const std::string& LogPath() {
    static const std::string path = Folder() + "/EEG00001.LOG";
    return path;
}

void WriteFile(const std::string& path, const void* data, size_t size, bool append) {
    const UINT flags =
        append ? CFile::modeWrite | CFile::modeNoTruncate : CFile::modeCreate | CFile::modeWrite;
    CFile file(path.c_str(), flags | CFile::shareDenyNone);
    if (append)
        file.SeekToEnd();
    if (size > 0)
        file.Write(data, static_cast<UINT>(size));
    file.Close();
}

// Data files 0 and 1 and cut file 1 of the recording, written once: three of the
// largest seconds each, of bytes that every storage mode can unpack.
void MakeDataFiles() {
    std::vector<unsigned char> bytes(3 * CDosEegData::kRawSecondBytes);
    uint32_t x = 2463534242u;
    for (unsigned char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    for (const char* ext : {".000", ".001", ".A01"})
        WriteFile(Folder() + "/EEG00001" + ext, bytes.data(), bytes.size(), false);
}

// Runs a parse of the log; true when it returned. An exception must be the log's
// for a file list ending in a cut file.
template <class F>
bool Parse(CDosLogFile& log, F&& step) {
    try {
        step();
        return true;
    } catch (CException* e) {
        const auto* dos = dynamic_cast<CDosFileException*>(e);
        const bool expected = dos && dos->GetErrorCode() == CDosFileException::eLogAccessFailure &&
                              (log.getStatus() & CLogFile::stLastIsCutFile);
        e->Delete();
        if (!expected)
            __builtin_trap();
        return false;
    }
}

void WalkEvents(const CLogFile& log) {
    const CEegEventList& events = log.GetEventList();
    for (int i = 0; i < events.GetSize(); ++i) {
        if (i > 0 && events[i]->GetTimeStamp() < events[i - 1]->GetTimeStamp())
            __builtin_trap();
        (void)events[i]->AsString(nullptr);
    }
    const CEegEventList& records = log.GetTimeOfDayList();
    for (int i = 0; i < records.GetSize(); ++i) {
        if (records[i]->GetEventType() != CEegEvent::etRecord)
            __builtin_trap();
    }
}

void WalkFiles(const CLogFile& log, bool settled) {
    const int count = log.getFileCount();
    if (count < 0 || count > LogFormat::kMaxFiles)
        __builtin_trap();
    for (int i = 0; i < count; ++i) {
        const CLogFile::FileType& f = *log.getFile(i);
        if (f.lengthSeconds < 0 || f.skipSeconds < 0)
            __builtin_trap();
    }
    // A parse that did not throw leaves a list that does not end with a cut file.
    if (settled && count > 0 && log.getFile(count - 1)->fileNumber < 0)
        __builtin_trap();
    const int32_t length = log.getRecordLength();
    if (count == 0 ? length != 0 : length < log.getFile(count - 1)->startSecond)
        __builtin_trap();
    // The largest stored second is 32 channels at 400 samples.
    const int bytes = log.GetBytesPerSecondFile();
    const int rate = log.Rate();
    if (bytes < 0 || (rate >= 1 && rate <= CDosEegData::kMaxSamplesPerSecond &&
                      (bytes < 1 || bytes > CDosEegData::kRawSecondBytes)))
        __builtin_trap();
}

// Whether a second read into frames kept to what it may write: samples
// [0, written) with the slots that are not stored at 0, nothing beyond. Left out
// of the coverage that guides the fuzzer: the harness's own loops would cost more
// than the reads they check.
__attribute__((no_sanitize("coverage"))) bool KeptToItsSecond(const std::vector<short>& frames,
                                                              size_t written, const int* valid) {
    for (size_t i = 0; i < frames.size(); ++i) {
        if (i >= written ? frames[i] != kUntouched : !valid[i % kSlots] && frames[i] != 0)
            return false;
    }
    return true;
}

// Reads seconds through the log's file list: a whole second (N) or none (0).
void ReadSeconds(CLogFile& log) {
    CDosEegData data(log);
    const int rate = log.Rate();
    const bool usable = rate >= 1 && rate <= CDosEegData::kMaxSamplesPerSecond;
    const size_t written = usable ? static_cast<size_t>(kSlots) * static_cast<size_t>(rate) : 0;
    static const std::vector<short> untouched(
        static_cast<size_t>(kSlots) * CDosEegData::kMaxSamplesPerSecond, kUntouched);
    static std::vector<short> frames(untouched.size());
    const int32_t length = log.getRecordLength();
    for (const int32_t second : {0, 1, length - 1, log.getMaxReadPosition()}) {
        std::memcpy(frames.data(), untouched.data(), untouched.size() * sizeof(short));
        const int32_t got = data.readData(second, frames.data());
        if ((got != 0 && (!usable || got != rate)) ||
            !KeptToItsSecond(frames, written, log.GetChannelValidArray()))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeDataFiles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CString path(LogPath().c_str());
    const int64_t length = static_cast<int64_t>(size);

    // An update that returns has settled the file list when it had new bytes to
    // parse; with none it leaves the list as the last one did.
    WriteFile(LogPath(), data, size, false);
    int64_t wholeEnd;
    {
        CDosLogFile whole;
        const bool settled = Parse(whole, [&] { whole.OpenLog(path, 0); }) && size > 0;
        wholeEnd = whole.GetReadPosition();
        if (wholeEnd < 0 || wholeEnd > length)
            __builtin_trap();
        WalkEvents(whole);
        WalkFiles(whole, settled);
    }

    // The first byte chooses where the log is cut in two.
    const size_t split = size == 0 ? 0 : size * data[0] / 256;
    WriteFile(LogPath(), data, split, false);
    CDosLogFile log;
    Parse(log, [&] { log.OpenLog(path, 0); });
    const int64_t firstEnd = log.GetReadPosition();
    if (firstEnd < 0 || firstEnd > static_cast<int64_t>(split))
        __builtin_trap();
    WriteFile(LogPath(), data + split, size - split, true);
    const bool settled = Parse(log, [&] { log.updateFromLog(); }) && length > firstEnd;
    // However the log arrived, the parser stops at the same byte.
    if (log.GetReadPosition() != wholeEnd)
        __builtin_trap();

    WalkEvents(log);
    WalkFiles(log, settled);
    ReadSeconds(log);
    return 0;
}
