// Stores and loads 100 MB of mixed values through CArchive over CFile, beside the
// same bytes moved value by value with stdio's fwrite/fread (same buffer size),
// in the same run. Prints MB/s and the ratio archive/stdio (higher is better).
//
//   ArchiveBench [folder] [megabytes]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {

constexpr int kBuffer = 4096;
constexpr size_t kRecord = 1 + 2 + 4 + 8 + 4 + 8;  // bytes of one mixed record

double Seconds(auto start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ArchiveStore(const std::string& path, size_t records) {
    auto t = std::chrono::steady_clock::now();
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    CArchive ar(&file, CArchive::store, kBuffer);
    for (size_t i = 0; i < records; ++i) {
        ar << BYTE(i) << WORD(i) << int32_t(i) << double(i) << float(i) << int64_t(i);
    }
    ar.Close();
    file.Close();
    return Seconds(t);
}

double ArchiveLoad(const std::string& path, size_t records, int64_t& sum) {
    auto t = std::chrono::steady_clock::now();
    CFile file(path.c_str(), CFile::modeRead);
    CArchive ar(&file, CArchive::load, kBuffer);
    BYTE b;
    WORD w;
    int32_t i32;
    double d;
    float f;
    int64_t i64;
    for (size_t i = 0; i < records; ++i) {
        ar >> b >> w >> i32 >> d >> f >> i64;
        sum += b + w + i32 + static_cast<int64_t>(d) + static_cast<int64_t>(f) + i64;
    }
    return Seconds(t);
}

template <class T>
void Put(FILE* f, T v) {
    std::fwrite(&v, sizeof v, 1, f);
}
template <class T>
void Get(FILE* f, T& v) {
    if (std::fread(&v, sizeof v, 1, f) != 1)
        std::abort();
}

double StdioStore(const std::string& path, size_t records) {
    auto t = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::setvbuf(f, nullptr, _IOFBF, kBuffer);
    for (size_t i = 0; i < records; ++i) {
        Put(f, BYTE(i));
        Put(f, WORD(i));
        Put(f, int32_t(i));
        Put(f, double(i));
        Put(f, float(i));
        Put(f, int64_t(i));
    }
    std::fclose(f);
    return Seconds(t);
}

double StdioLoad(const std::string& path, size_t records, int64_t& sum) {
    auto t = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "rb");
    std::setvbuf(f, nullptr, _IOFBF, kBuffer);
    BYTE b;
    WORD w;
    int32_t i32;
    double d;
    float fl;
    int64_t i64;
    for (size_t i = 0; i < records; ++i) {
        Get(f, b);
        Get(f, w);
        Get(f, i32);
        Get(f, d);
        Get(f, fl);
        Get(f, i64);
        sum += b + w + i32 + static_cast<int64_t>(d) + static_cast<int64_t>(fl) + i64;
    }
    std::fclose(f);
    return Seconds(t);
}

// The ceiling: the same bytes, already laid out in memory, in whole buffers.
double BlockStore(const std::string& path, const std::vector<unsigned char>& bytes) {
    auto t = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::setvbuf(f, nullptr, _IONBF, 0);
    for (size_t at = 0; at < bytes.size(); at += kBuffer) {
        std::fwrite(bytes.data() + at, 1, std::min<size_t>(kBuffer, bytes.size() - at), f);
    }
    std::fclose(f);
    return Seconds(t);
}

double BlockLoad(const std::string& path, std::vector<unsigned char>& bytes) {
    auto t = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "rb");
    std::setvbuf(f, nullptr, _IONBF, 0);
    for (size_t at = 0; at < bytes.size(); at += kBuffer) {
        if (std::fread(bytes.data() + at, 1, std::min<size_t>(kBuffer, bytes.size() - at), f) ==
            0) {
            std::abort();
        }
    }
    std::fclose(f);
    return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const double megabytes = argc > 2 ? std::atof(argv[2]) : 100.0;
    const size_t records = static_cast<size_t>(megabytes * 1e6 / kRecord);
    const double mb = static_cast<double>(records * kRecord) / 1e6;
    const std::string a = (dir / "archive-bench.bin").string();
    const std::string s = (dir / "stdio-bench.bin").string();

    // Best of three rounds, the two contenders interleaved so both see the same machine.
    double as = 1e9, al = 1e9, ss = 1e9, sl = 1e9, bs = 1e9, bl = 1e9;
    std::vector<unsigned char> bytes(records * kRecord);
    {
        ArchiveStore(a, records);
        FILE* in = std::fopen(a.c_str(), "rb");
        if (std::fread(bytes.data(), 1, bytes.size(), in) != bytes.size())
            return 1;
        std::fclose(in);
    }
    int64_t sumA = 0, sumS = 0;
    for (int round = 0; round < 3; ++round) {
        as = std::min(as, ArchiveStore(a, records));
        ss = std::min(ss, StdioStore(s, records));
        sumA = sumS = 0;
        al = std::min(al, ArchiveLoad(a, records, sumA));
        sl = std::min(sl, StdioLoad(s, records, sumS));
        bs = std::min(bs, BlockStore(s, bytes));
        bl = std::min(bl, BlockLoad(s, bytes));
    }
    std::filesystem::remove(a);
    std::filesystem::remove(s);
    if (sumA != sumS) {
        std::fprintf(stderr, "checksums differ\n");
        return 1;
    }
    std::printf("%.0f MB of mixed values (BYTE, WORD, int32, double, float, int64), buffer %d\n",
                mb, kBuffer);
    std::printf("             CArchive   per-value stdio (ratio)   whole-buffer stdio (ratio)\n");
    std::printf("store MB/s  %8.0f   %8.0f (%.2f)           %8.0f (%.2f)\n", mb / as, mb / ss,
                ss / as, mb / bs, bs / as);
    std::printf("load  MB/s  %8.0f   %8.0f (%.2f)           %8.0f (%.2f)\n", mb / al, mb / sl,
                sl / al, mb / bl, bl / al);
    std::printf("(ratio = CArchive rate / reference rate)\n");
    return 0;
}
