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
#include <tuple>
#include <vector>

#include "ContainerTestSupport.h"
#include "Platform/Archive.h"

namespace {
using namespace containertest;

// How working through a file ended, when not with one of the container's codes.
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

// Opens the file, reads every stream, refreshes, grows, trims and cuts each one,
// and scans the whole file for a stream that is not there. Returns kFine, the
// container's code or the kind of exception; kinds the container may not raise
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
        EXPECT_EQ(scan.OpenStreamByScan(path.c_str(), "NotThere", 1, 0, 1, 0, nullptr), nullptr);
    } catch (CException* e) {
        auto* c = dynamic_cast<CTKCompoundFileException*>(e);
        const int outcome = c                                     ? c->m_nError
                            : dynamic_cast<CFileException*>(e)    ? kFileError
                            : dynamic_cast<CArchiveException*>(e) ? kArchiveError
                                                                  : kOtherError;
        EXPECT_TRUE((outcome >= 0 && outcome <= 7) || outcome == kFileError ||
                    outcome == kArchiveError)
            << e->GetErrorText().GetString();
        e->Delete();
        return outcome;
    }
    return kFine;
}

// A container with a directory, a stream over three sections, one cut and
// regrown (with a released section), and one settled open-ended stream; and
// the offsets of its sections.
Bytes MakeContainer(const std::string& path, std::vector<int64_t>& sections) {
    {
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
    }
    const Bytes bytes = ReadBytes(path);
    sections.clear();
    for (size_t at = 0; at + 104 <= bytes.size(); at += static_cast<size_t>(Le32(bytes, at + 48)))
        sections.push_back(static_cast<int64_t>(at));
    return bytes;
}

TEST(TKCompoundFileBadFile, EveryHeaderFieldOutOfRangeIsRefused) {
    TempDir dir;
    const std::string path = dir.File("field.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    EXPECT_EQ(sections.size(), 8u);  // directory, A: 3, B: 3 (one released), C: 1
    EXPECT_EQ(WorkThrough(path), kFine);
    const int64_t length = static_cast<int64_t>(good.size());
    constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
    constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
    for (int64_t p : sections) {
        const int32_t size = Le32(good, static_cast<size_t>(p) + 48);
        const std::tuple<const char*, size_t, int, std::vector<int64_t>> fields[] = {
            {"magic", 0, 1, {'X', 0}},
            {"magic end", 5, 1, {'R'}},
            {"offset", 24, 8, {p + 512, p - 1, -1, kMax64, kMin64}},
            {"next", 32, 8, {-2, length - 511, length, kMax64, kMin64}},
            {"free", 44, 4, {2, -1, kMax32}},
            {"size", 48, 4, {0, 256, 700, -512, kMin32, length - p + 512, kMax32}},
            {"used", 52, 4, {-1, size - 127, kMax32, kMin32}},
            {"copy", 56, 4, {0, -1, kMin32}},
            {"header size", 60, 4, {0, 103, 105, kMax32}},
            {"sequence", 64, 4, {-1, kMin32}},
        };
        for (const auto& [name, at, width, values] : fields) {
            for (int64_t value : values) {
                Bytes bad = good;
                PutLe(bad, static_cast<size_t>(p) + at, static_cast<uint64_t>(value), width);
                WriteBytes(path, bad);
                EXPECT_NE(WorkThrough(path), kFine)
                    << "section at " << p << ", " << name << " = " << value;
            }
        }
    }
}

TEST(TKCompoundFileBadFile, FaultsGiveTheirCodes) {
    TempDir dir;
    const std::string path = dir.File("codes.eeg");
    std::vector<int64_t> sections;
    const Bytes good = MakeContainer(path, sections);
    const size_t a1 = static_cast<size_t>(sections[2]);  // A's second section
    const int64_t length = static_cast<int64_t>(good.size());
    using E = CTKCompoundFileException;
    // Field changed, its value and width; whether the directory section is
    // unlinked first (so that only its header counts); the code opening the
    // file and then stream A gives (-1: none).
    const std::tuple<size_t, int64_t, int, bool, int> cases[] = {
        {a1 + 64, 2, 4, false, E::sequenceError},
        {a1 + 56, 2, 4, false, E::invalidSectionHeader},       // another copy
        {a1 + 8, 'Q', 1, false, E::invalidSectionHeader},      // another name
        {a1 + 32, sections[1], 8, false, E::sequenceError},    // a chain back to its start
        {124, length - 50, 8, false, E::unexpectedEndOfFile},  // a record beyond the end
        {124, 2000, 8, false, E::invalidSectionHeader},        // or into a section's data
        {8, 'H', 1, false, E::badDirectoryStream},             // a valid header of another stream
        {56, 2, 4, false, E::badDirectoryStream},
        {1, 'C', 1, false, E::invalidSectionHeader},
        // The boundaries: next up to the length - 512, used up to size - 128,
        // size a multiple of 512.
        {32, length - 512, 8, true, -1},
        {32, length - 511, 8, true, E::invalidSectionHeader},
        {52, 896, 4, true, -1},
        {52, 897, 4, true, E::invalidSectionHeader},
        {48, 700, 4, true, E::invalidSectionHeader},
    };
    for (const auto& [at, value, width, unlink, expected] : cases) {
        Bytes bad = good;
        PutLe(bad, at, static_cast<uint64_t>(value), width);
        if (unlink)
            PutLe(bad, 40, 0, 4);
        WriteBytes(path, bad);
        EXPECT_EQ(ContainerCode([&] {
                      CTKCompoundFile f;
                      f.Open(path.c_str(), 1);
                      if (!unlink)
                          f.OpenStream("A", 1, 0, 1, 0);
                  }),
                  expected)
            << "field at " << at << " = " << value;
    }
    for (size_t cut : {size_t{0}, size_t{103}}) {
        WriteBytes(path, Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        EXPECT_EQ(ContainerCode([&] { CTKCompoundFile().Open(path.c_str(), 1); }),
                  E::badDirectoryStream);
    }

    // The directory's content: its schema word; a count beyond the records the
    // stream holds (a rewrite cut short) reads the records present.
    Bytes bad = good;
    bad[104] = 0x5B;
    WriteBytes(path, bad);
    testsupport::ExpectArchiveError([&] { CTKCompoundFile().Open(path.c_str(), 1); },
                                    CArchiveException::badSchema, path);
    Bytes more = good;
    PutLe(more, 106, Le(good, 106, 2) + 1000, 2);
    WriteBytes(path, more);
    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    EXPECT_TRUE(f.IsOpen());
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
            // The good file with a few bytes or words changed, words often small negatives.
            bytes = good;
            for (int changes = 1 + static_cast<int>(random() % 8); changes > 0; --changes) {
                const size_t at = random() % (bytes.size() - 8);
                if (random() % 2)
                    bytes[at] = static_cast<unsigned char>(random());
                else
                    PutLe(bytes, at, random() % 2 ? random() : -uint64_t{random() % 5}, 4);
            }
        }
        WriteBytes(path, bytes);
        refused += WorkThrough(path) != kFine;
    }
    EXPECT_GT(refused, 50);
}

}  // namespace
