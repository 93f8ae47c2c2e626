#include "EegFile/dos/DosEegData.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "EegFile/frame/DeltaCoding.h"

static_assert(std::endian::native == std::endian::little,
              "stored samples are little-endian, and mode 0 is read straight into frames");

namespace {
constexpr int kSlots = DeltaCoding::kFrameSlots;
constexpr int kReadAheadBytes = 64 * 1024;

inline int16_t Load16(const char* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(char* p, int16_t v) {
    std::memcpy(p, &v, 2);
}
}  // namespace

const char* const CDosEegData::fileNameCntStr = CLogFile::fileNameCntStr;
const char* const CDosEegData::DeletedFileNameCntStr = CLogFile::DeletedFileNameCntStr;

CDosEegData::CDosEegData(CLogFile& log)
    : m_Log(log), m_RawSecond(new char[kRawSecondBytes]), m_ReadAhead(new char[kReadAheadBytes]) {}

CDosEegData::~CDosEegData() {
    CloseFile();
}

int32_t CDosEegData::calculateSecondsOfData(int64_t bytes) const {
    const int b = getBytesPerSecond();
    return b > 0 ? static_cast<int32_t>(std::min<int64_t>(bytes / b, INT32_MAX)) : 0;
}

void CDosEegData::CloseReadFile() {
    m_File.Abort();
    m_nAheadBytes = 0;
}

void CDosEegData::CloseFile() {
    CloseReadFile();
    m_nFileIndex = -1;
    m_nOffset = -1;
}

int CDosEegData::StoredSlots(int* slots) const {
    const int k = std::clamp(m_Log.GetStoredChannelCount(), 0, kSlots);
    const int* valid = m_Log.GetChannelValidArray();
    int count = 0;
    for (int slot = 0; slot < kSlots && count < k; ++slot) {
        if (valid[slot])
            slots[count++] = slot;
    }
    return count;
}

int CDosEegData::UsableRate() const {
    const int n = m_Log.Rate();
    return n >= 1 && n <= kMaxSamplesPerSecond && getBytesPerSecond() <= kRawSecondBytes ? n : 0;
}

// -- positioning and reading

void CDosEegData::seek(int32_t second) {
    const int count = m_Log.getFileCount();
    if (count == 0) {
        CloseFile();
        return;
    }
    const int32_t maxRead = m_Log.getMaxReadPosition();
    // Data files do not serve the seconds below MAXREAD: cut files hold what was
    // kept of those.
    const auto serves = [second, maxRead](const CLogFile::FileType& f) {
        return f.startSecond <= second &&
               second < static_cast<int64_t>(f.startSecond) + f.lengthSeconds &&
               (f.fileNumber < 0 || second >= maxRead);
    };
    // The list is compacted and sorted as the log grows, so the open file's entry is
    // known by its number as well as its index.
    int index = m_nFileIndex;
    if (!(m_File.IsOpen() && index >= 0 && index < count &&
          m_Log.getFile(index)->fileNumber == m_nOpenNumber && serves(*m_Log.getFile(index)))) {
        index = -1;
        for (int i = 0; i < count && index < 0; ++i) {
            if (serves(*m_Log.getFile(i)))
                index = i;
        }
        if (index < 0) {
            CloseFile();
            return;
        }
        const CLogFile::FileType& f = *m_Log.getFile(index);
        if (!m_File.IsOpen() || f.fileNumber != m_nOpenNumber) {
            CloseFile();
            if (!m_File.Open(m_Log.GetFilePath(f),
                             CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary))
                return;
            m_nOpenNumber = f.fileNumber;
        }
        m_nFileIndex = index;
    }
    m_nOffset =
        static_cast<int64_t>(second - m_Log.getFile(index)->startSecond) * getBytesPerSecond();
}

int CDosEegData::ReadAt(int64_t offset, char* out, int count) {
    if (offset >= m_nAheadStart && offset + count <= m_nAheadStart + m_nAheadBytes) {
        std::memcpy(out, m_ReadAhead.get() + (offset - m_nAheadStart), static_cast<size_t>(count));
        return count;
    }
    UINT got = 0;
    try {
        got = m_File.ReadAt(static_cast<uint64_t>(offset), m_ReadAhead.get(), kReadAheadBytes);
    } catch (CException* e) {
        e->Delete();
        CloseFile();
        return 0;
    }
    m_nAheadStart = offset;
    m_nAheadBytes = static_cast<int>(got);
    const int n = std::min(m_nAheadBytes, count);
    std::memcpy(out, m_ReadAhead.get(), static_cast<size_t>(n));
    return n;
}

int32_t CDosEegData::readData(int32_t second, short* frames) {
    const int n = UsableRate();
    if (n == 0)
        return 0;
    const int b = getBytesPerSecond();
    seek(second);
    if (m_nFileIndex < 0 || b <= 0) {
        std::memset(frames, 0, sizeof(short) * kSlots * static_cast<size_t>(n));
        return 0;
    }
    int slots[kSlots];
    const bool straight = getCompressionMode() != Compression::DeltaExponent &&
                          getCompressionMode() != Compression::AdaptiveDelta &&
                          StoredSlots(slots) == kSlots;
    char* raw = straight ? reinterpret_cast<char*>(frames) : m_RawSecond.get();
    const int got = ReadAt(m_nOffset, raw, b);
    std::memset(raw + got, 0, static_cast<size_t>(b - got));
    if (!straight)
        UnpackSecond(raw, frames);
    return got == b ? n : 0;
}

int32_t CDosEegData::readDataRaw(int32_t second, char* buffer, int pad) {
    const int b = getBytesPerSecond();
    if (UsableRate() == 0 || b <= 0)
        return pad ? 0 : -1;
    seek(second);
    if (m_nFileIndex < 0) {
        if (!pad)
            return -1;
        std::memset(buffer, 0, static_cast<size_t>(b));
        return b;
    }
    const int got = ReadAt(m_nOffset, buffer, b);
    if (!pad)
        return got;
    std::memset(buffer + got, 0, static_cast<size_t>(b - got));
    return b;
}

// -- codecs

char CDosEegData::ConvertDelta(short d) {
    return static_cast<char>(DeltaCoding::ConvertDelta(d));
}

short CDosEegData::RestoreDelta(char c) {
    return DeltaCoding::RestoreDelta(static_cast<int8_t>(c));
}

char CDosEegData::ConvertDeltaR(short d, int flag, int threshold, int step) {
    return static_cast<char>(DeltaCoding::ConvertDeltaR(d, flag, threshold, std::max(step, 1)));
}

short CDosEegData::RestoreDeltaR(char c, int flag, int threshold, int step) {
    return static_cast<short>(
        DeltaCoding::RestoreDeltaR(static_cast<int8_t>(c), flag, threshold, step));
}

int CDosEegData::PackSecond(const short* frames, char* out) const {
    const int b = getBytesPerSecond();
    if (UsableRate() == 0 || b <= 0)
        return 0;
    int written;
    switch (getCompressionMode()) {
        case Compression::DeltaExponent:
            written = compressBuffer(frames, out);
            break;
        case Compression::AdaptiveDelta:
            written = compressBufferR(frames, out);
            break;
        default:
            written = compressToNChannels(frames, out);
            break;
    }
    // A stored-input list with repeated inputs counts more channels than it
    // stores; the second keeps its size.
    std::memset(out + written, 0, static_cast<size_t>(b - written));
    return b;
}

void CDosEegData::UnpackSecond(const char* raw, short* frames) const {
    switch (getCompressionMode()) {
        case Compression::DeltaExponent:
            deCompressBuffer(raw, frames);
            break;
        case Compression::AdaptiveDelta:
            deCompressBufferR(raw, frames);
            break;
        default:
            expandTo32Channels(raw, frames);
            break;
    }
}

int CDosEegData::compressBuffer(const short* frames, char* out) const {
    int slots[kSlots];
    const int k = StoredSlots(slots);
    const int n = m_Log.Rate();
    int16_t prediction[kSlots];
    for (int j = 0; j < k; ++j) {
        prediction[j] = frames[slots[j]];
        Store16(out + 2 * j, prediction[j]);
    }
    char* code = out + 2 * k;
    // Each difference is taken from the restored previous sample, so that coding
    // errors do not add up.
    for (int i = 1; i < n; ++i) {
        const short* frame = frames + kSlots * i;
        for (int j = 0; j < k; ++j) {
            const auto d = static_cast<int16_t>(frame[slots[j]] - prediction[j]);
            *code = ConvertDelta(d);
            prediction[j] = static_cast<int16_t>(prediction[j] + RestoreDelta(*code++));
        }
    }
    return static_cast<int>(code - out);
}

void CDosEegData::deCompressBuffer(const char* raw, short* frames) const {
    int slots[kSlots];
    const int k = StoredSlots(slots);
    const int n = m_Log.Rate();
    std::memset(frames, 0, sizeof(short) * kSlots * static_cast<size_t>(n));
    for (int j = 0; j < k; ++j)
        frames[slots[j]] = Load16(raw + 2 * j);
    const char* code = raw + 2 * k;
    for (int i = 1; i < n; ++i) {
        short* frame = frames + kSlots * i;
        for (int j = 0; j < k; ++j)
            frame[slots[j]] = static_cast<short>(frame[slots[j] - kSlots] + RestoreDelta(*code++));
    }
}

int CDosEegData::compressBufferR(const short* frames, char* out) const {
    int slots[kSlots];
    const int k = StoredSlots(slots);
    return DeltaCoding::EncodeSecond(frames, m_Log.Rate(), slots, k,
                                     reinterpret_cast<uint8_t*>(out));
}

void CDosEegData::deCompressBufferR(const char* raw, short* frames) const {
    int slots[kSlots];
    const int k = StoredSlots(slots);
    DeltaCoding::DecodeSecond(reinterpret_cast<const uint8_t*>(raw), m_Log.Rate(), slots, k,
                              frames);
}

int CDosEegData::CompressTrace(const short* samples, char* out) const {
    return DeltaCoding::EncodeBlock(samples, 1, m_Log.Rate(), reinterpret_cast<uint8_t*>(out));
}

int CDosEegData::compressToNChannels(const short* frames, char* out) const {
    int slots[kSlots];
    const int k = StoredSlots(slots);
    const int n = m_Log.Rate();
    char* p = out;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < k; ++j, p += 2)
            Store16(p, frames[kSlots * i + slots[j]]);
    }
    return static_cast<int>(p - out);
}

void CDosEegData::expandTo32Channels(const char* raw, short* frames) const {
    int slots[kSlots];
    const int k = StoredSlots(slots);
    const int n = m_Log.Rate();
    std::memset(frames, 0, sizeof(short) * kSlots * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < k; ++j, raw += 2)
            frames[kSlots * i + slots[j]] = Load16(raw);
    }
}

int CDosEegData::FindUnsoundByte(const char* raw) const {
    const int n = UsableRate();
    int slots[kSlots];
    const int k = StoredSlots(slots);
    if (n == 0)
        return -1;
    if (getCompressionMode() == Compression::DeltaExponent) {
        const auto* codes = reinterpret_cast<const int8_t*>(raw + 2 * k);
        for (int i = 0; i < (n - 1) * k; ++i) {
            if (!DeltaCoding::IsSoundExponentCode(codes[i]))
                return 2 * k + i;
        }
    } else if (getCompressionMode() == Compression::AdaptiveDelta) {
        const int block = DeltaCoding::BlockBytes(n);
        for (int j = 0; j < k; ++j) {
            const int at =
                DeltaCoding::FindUnsoundByte(reinterpret_cast<const uint8_t*>(raw) + j * block, n);
            if (at >= 0)
                return j * block + at;
        }
    }
    return -1;
}

// -- writing

void CDosEegData::createNewDataFile() {
    m_bFirstSecond = 0;
    if (m_Log.getFileCount() >= LogFormat::kMaxFiles ||
        m_Log.getLastDataFileNumber() >= LogFormat::kMaxDataFileNumber)
        setStatus(CLogFile::stFileListFull);
    if (m_Log.getStatus() == CLogFile::stOk && m_nStatus == 0) {
        CLogFile::FileType file;
        file.fileNumber = m_Log.getLastDataFileNumber() + 1;
        try {
            CFile created(m_Log.GetFilePath(file), CFile::modeCreate | CFile::modeWrite |
                                                       CFile::shareDenyWrite | CFile::typeBinary);
            created.Close();
            if (m_Log.writeNewFileEvent(m_Log.getRecordLength(), file.fileNumber) == 0)
                return;
        } catch (CException* e) {
            e->Delete();
        }
    }
    setStatus(CLogFile::stNewFileFailed);
}
