// Bad files: every header field out of range in turn, files cut at every
// 512-byte boundary, and random bytes. Each must end in the container's
// exception or a file or archive exception of the framework: never a crash, a
// hang, another kind of failure or an allocation that the file's size does not
// bound (the sanitizer build checks the memory side).

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ContainerTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "Platform/Archive.h"
#include "TestSupport.h"

namespace {
using namespace containertest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

void WriteAll(CTKStream* s, const Bytes& b) {
    s->Write(b.data(), static_cast<UINT>(b.size()));
}

// How working through a file ended.
enum Outcome { kFine = -1, kFileError = 100, kArchiveError = 101, kOtherError = 102 };

// Collects every stream of a container through the copy-all walk (excluding all).
class Lister : public CTKStreamFilter {
public:
    int IncludeStream(const char* name, int copy) override {
        streams.emplace_back(name, copy);
        return 0;
    }
    std::vector<std::pair<std::string, int>> streams;
};

// Opens the file, reads every stream, refreshes and grows each one, and scans
// the whole file for a stream that is not there. Returns kFine, the container's
// code, or the kind of exception. Exceptions of no kind the container may raise
// fail the test.
int WorkThrough(const std::string& path) {
    try {
        CTKCompoundFile f;
        f.Open(path.c_str(), 0);
        Lister lister;
        f.CopyAllStreamsFrom(f, &lister);
        for (const auto& [name, copy] : lister.streams) {
            CTKStream* s = f.OpenStream(name.c_str(), copy, 0, 0, 0);
            if (!s)
                continue;
            std::vector<unsigned char> buffer(4096);
            while (s->Read(buffer.data(), static_cast<UINT>(buffer.size())) > 0) {
            }
            s->Refresh();
            WriteAll(s, PatternBytes(0, 3000));
            s->Trim(0);
            s->Truncate();
            WriteAll(s, PatternBytes(0, 700));
            f.CloseStream(s);
        }
        f.ComputeAllStreamsDiskSpace(0, 0, nullptr);
        f.Close();
        CTKCompoundFile scan;
        if (scan.OpenStreamByScan(path.c_str(), "NotThere", 1, 0, 1, 0, nullptr))
            return kOtherError;
    } catch (CException* e) {
        int outcome = kOtherError;
        if (auto* c = dynamic_cast<CTKCompoundFileException*>(e)) {
            outcome = c->m_nError;
            EXPECT_GE(c->m_nError, 0);
            EXPECT_LE(c->m_nError, 7);
        } else if (dynamic_cast<CFileException*>(e)) {
            outcome = kFileError;
        } else if (dynamic_cast<CArchiveException*>(e)) {
            outcome = kArchiveError;
        }
        EXPECT_NE(outcome, kOtherError) << e->GetErrorText().GetString();
        e->Delete();
        return outcome;
    }
    return kFine;
}

// A container with a directory, a stream over three sections, one cut and
// regrown (with a released section), and one settled open-ended stream.
Bytes MakeContainer(const std::string& path, std::vector<int64_t>& sections) {
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* a = f.CreateStream("A", 1, 0, 1000);
    WriteAll(a, PatternBytes(0, 3500));
    CTKStream* b = f.CreateStream("B", 2, 0, 600);
    WriteAll(b, PatternBytes(0, 2000));
    b->Truncate();
    WriteAll(b, PatternBytes(0, 900));
    f.CloseStream(a);
    f.CloseStream(b);
    CTKStream* c = f.CreateStream("C", 1, 1, 0);
    WriteAll(c, PatternBytes(0, 1234));
    f.CloseStream(c);
    f.Close();
    Bytes bytes = ReadBytes(path);
    // Every section: walk them from offset 0.
    sections.clear();
    for (size_t at = 0; at + 104 <= bytes.size(); at += static_cast<size_t>(Le32(bytes, at + 48))) {
        sections.push_back(static_cast<int64_t>(at));
    }
    return bytes;
}

TEST(TKCompoundFileBadFile, TheWellFormedFileWorksThrough) {
    TempDir dir;
    const std::string path = dir.File("good.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    EXPECT_EQ(sections.size(), 8u);  // directory, A: 3, B: 3 (one released), C: 1
    EXPECT_EQ(WorkThrough(path), kFine);
}

TEST(TKCompoundFileBadFile, EveryHeaderFieldOutOfRangeIsRefused) {
    TempDir dir;
    const std::string path = dir.File("field.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    const int64_t length = static_cast<int64_t>(good.size());
    constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
    constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
    struct Field {
        const char* name;
        size_t at;
        int width;
        std::vector<int64_t> values;  // relative values are computed per section below
    };
    int cases = 0;
    for (int64_t p : sections) {
        const Header h = HeaderAt(good, static_cast<size_t>(p));
        const std::vector<Field> fields = {
            {"magic", 0, 1, {'X', 0}},
            {"magic end", 5, 1, {'R'}},
            {"offset", 24, 8, {p + 512, p - 1, -1, kMax64, kMin64}},
            {"next", 32, 8, {-2, length - 511, length, kMax64, kMin64}},
            {"free", 44, 4, {2, -1, kMax32}},
            {"size", 48, 4, {0, 256, 700, -512, kMin32, length - p + 512, kMax32}},
            {"used", 52, 4, {-1, h.size - 127, kMax32, kMin32}},
            {"copy", 56, 4, {0, -1, kMin32}},
            {"header size", 60, 4, {0, 103, 105, kMax32}},
            {"sequence", 64, 4, {-1, kMin32}},
        };
        for (const Field& field : fields) {
            for (int64_t value : field.values) {
                Bytes bad = good;
                PutLe(bad, static_cast<size_t>(p) + field.at, static_cast<uint64_t>(value),
                      field.width);
                WriteBytes(path, bad);
                const int outcome = WorkThrough(path);
                EXPECT_NE(outcome, kFine)
                    << "section at " << p << ", " << field.name << " = " << value;
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 8 * 36);
}

TEST(TKCompoundFileBadFile, OutOfRangeStreamFieldsGiveTheirCodes) {
    TempDir dir;
    const std::string path = dir.File("codes.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    const int64_t a1 = sections[2];  // A's second section
    auto codeWith = [&](size_t at, uint64_t value, int width) {
        Bytes bad = good;
        PutLe(bad, at, value, width);
        WriteBytes(path, bad);
        return ContainerCode([&] {
            CTKCompoundFile f;
            f.Open(path.c_str(), 1);
            f.OpenStream("A", 1, 0, 1, 0);
        });
    };
    EXPECT_EQ(codeWith(static_cast<size_t>(a1) + 64, 2, 4),
              CTKCompoundFileException::sequenceError);
    EXPECT_EQ(codeWith(static_cast<size_t>(a1) + 56, 2, 4),
              CTKCompoundFileException::invalidSectionHeader);
    EXPECT_EQ(codeWith(static_cast<size_t>(a1) + 8, 'Q', 1),
              CTKCompoundFileException::invalidSectionHeader);
    // A chain that comes back to its own first section.
    EXPECT_EQ(codeWith(static_cast<size_t>(a1) + 32, static_cast<uint64_t>(sections[1]), 8),
              CTKCompoundFileException::sequenceError);
    // A directory record that points beyond the end, or into a section's data.
    EXPECT_EQ(codeWith(124, static_cast<uint64_t>(good.size()) - 50, 8),
              CTKCompoundFileException::unexpectedEndOfFile);
    EXPECT_EQ(codeWith(124, 2000, 8), CTKCompoundFileException::invalidSectionHeader);
}

TEST(TKCompoundFileBadFile, DirectoryFaultsGiveTheirCodes) {
    TempDir dir;
    const std::string path = dir.File("directory.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    auto openWith = [&](const Bytes& bad) {
        WriteBytes(path, bad);
        return ContainerCode([&] {
            CTKCompoundFile f;
            f.Open(path.c_str(), 1);
        });
    };
    EXPECT_EQ(openWith(Bytes(good.begin(), good.begin() + 103)),
              CTKCompoundFileException::badDirectoryStream);
    EXPECT_EQ(openWith(Bytes()), CTKCompoundFileException::badDirectoryStream);
    Bytes bad = good;
    std::memcpy(bad.data() + 8, "Header\0\0\0", 9);  // a valid header of another stream
    EXPECT_EQ(openWith(bad), CTKCompoundFileException::badDirectoryStream);
    bad = good;
    PutLe(bad, 56, 2, 4);
    EXPECT_EQ(openWith(bad), CTKCompoundFileException::badDirectoryStream);
    bad = good;
    bad[1] = 'C';
    EXPECT_EQ(openWith(bad), CTKCompoundFileException::invalidSectionHeader);
    // The boundaries of the rules: next up to the file's length - 512, used up
    // to size - 128, size a multiple of 512.
    for (const auto& [at, value, width, expected] :
         std::vector<std::tuple<size_t, int64_t, int, int>>{
             {32, static_cast<int64_t>(good.size()) - 512, 8, -1},
             {32, static_cast<int64_t>(good.size()) - 511, 8, 4},
             {52, 896, 4, -1},
             {52, 897, 4, 4},
             {48, 700, 4, 4},
         }) {
        bad = good;
        PutLe(bad, at, static_cast<uint64_t>(value), width);
        PutLe(bad, 40, 0, 4);  // unlinked, so that only the header itself counts
        EXPECT_EQ(openWith(bad), expected) << "field at " << at << " = " << value;
    }

    // The directory's content: its schema word, and more records than it holds.
    bad = good;
    bad[104] = 0x5B;
    WriteBytes(path, bad);
    testsupport::ExpectThrows<CArchiveException>(
        [&] {
            CTKCompoundFile f;
            f.Open(path.c_str(), 1);
        },
        [&](CArchiveException& e) {
            EXPECT_EQ(e.m_cause, CArchiveException::badSchema);
            EXPECT_EQ(e.m_strFileName, path.c_str());
        });
    bad = good;
    PutLe(bad, 106, 0xFFFF, 2);  // a count of 0xFFFFFFFF records follows as a DWORD
    PutLe(bad, 108, 0xFFFFFFFF, 4);
    WriteBytes(path, bad);
    testsupport::ExpectThrows<CArchiveException>(
        [&] {
            CTKCompoundFile f;
            f.Open(path.c_str(), 1);
        },
        [](CArchiveException& e) { EXPECT_EQ(e.m_cause, CArchiveException::endOfFile); });
}

TEST(TKCompoundFileBadFile, AFileCutAtAnySectorBoundaryIsRefused) {
    TempDir dir;
    const std::string path = dir.File("cut.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    for (size_t cut = 0; cut < good.size(); cut += 512) {
        WriteBytes(path, Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        EXPECT_NE(WorkThrough(path), kFine) << "cut at " << cut;
    }
}

TEST(TKCompoundFileBadFile, RandomBytesNeverCrash) {
    TempDir dir;
    const std::string path = dir.File("random.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    std::mt19937 random(20240607);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        Bytes bytes;
        if (round % 3 == 0) {
            // Noise, sometimes behind a valid directory header.
            bytes.resize(random() % 12000);
            for (auto& b : bytes)
                b = static_cast<unsigned char>(random());
            if (round % 2 == 0 && bytes.size() >= 104)
                std::copy_n(good.begin(), 104, bytes.begin());
        } else {
            // The good file with a few random bytes or words changed.
            bytes = good;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < changes; ++i) {
                const size_t at = random() % (bytes.size() - 8);
                if (random() % 2) {
                    bytes[at] = static_cast<unsigned char>(random());
                } else {
                    PutLe(bytes, at, random() % 2 ? random() : -static_cast<uint64_t>(random() % 5),
                          4);
                }
            }
        }
        WriteBytes(path, bytes);
        if (WorkThrough(path) != kFine)
            ++refused;
    }
    EXPECT_GT(refused, 50);
}

}  // namespace
