// Event list with 1 000 000 events: GetAt, a 10-event window, Add at the end, and
// storing and loading the whole list through CArchive. References measured in the
// same run: std::upper_bound over a plain array of sample offsets for the
// searches, and fwrite/fread of the same stored bytes for storing and loading.
//
//   EventListBench [Google Benchmark flags]; files go to $TMPDIR (or /tmp).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "EegFile/events/EegEventList.h"
#include "EegFile/events/Events.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {

constexpr int kEvents = 1000000;

// A recording's worth of events: every 100th a montage, the rest blocks,
// comments, user events and key presses, 1 to 3 samples apart.
struct Recording {
    std::vector<std::unique_ptr<CEegEvent>> events;
    CEegEventList list;
    std::vector<uint32_t> stamps;

    Recording() {
        std::mt19937 rng(7);
        uint32_t at = 0;
        events.reserve(kEvents);
        list.SetSize(0, 4096);
        for (int i = 0; i < kEvents; ++i) {
            at += 1 + rng() % 3;
            const CEegTimeStamp t(at);
            CEegEvent* e;
            if (i % 100 == 0) {
                e = new CMontageEvent(t);
            } else {
                switch (i % 4) {
                    case 0:
                        e = new CBlockEvent(t);
                        break;
                    case 1:
                        e = new CCommentEvent(t, "Eyes open", static_cast<short>(i % 9 + 1));
                        break;
                    case 2:
                        e = new CUserEvent(t, "Marker", 5);
                        break;
                    default:
                        e = new CKeyPressEvent(t, 5);
                        break;
                }
            }
            events.emplace_back(e);
            list.Add(e);
            stamps.push_back(at);
        }
    }
    uint32_t Last() const { return stamps.back(); }
};

Recording& Shared() {
    static Recording r;
    return r;
}

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return (std::filesystem::path(dir ? dir : "/tmp") / name).string();
}

void BM_GetAt(benchmark::State& state) {
    Recording& r = Shared();
    CEegEventMask mask;  // montages only, as replaying the montage at a position asks
    mask.SetAll(1);
    mask.SetMask(CEegEvent::etMontage, 0);
    std::mt19937 rng(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(r.list.GetAt(CEegTimeStamp(rng() % r.Last()), mask));
    }
}
BENCHMARK(BM_GetAt);

void BM_GetAtAnyType(benchmark::State& state) {
    Recording& r = Shared();
    std::mt19937 rng(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            r.list.GetAt(CEegTimeStamp(rng() % r.Last()), CEegEventMask::EmptyMask));
    }
}
BENCHMARK(BM_GetAtAnyType);

void BM_GetAtReference(benchmark::State& state) {
    Recording& r = Shared();
    std::mt19937 rng(1);
    for (auto _ : state) {
        const uint32_t t = rng() % r.Last();
        benchmark::DoNotOptimize(std::upper_bound(r.stamps.begin(), r.stamps.end(), t));
    }
}
BENCHMARK(BM_GetAtReference);

void BM_Window10(benchmark::State& state) {
    Recording& r = Shared();
    CEegEventList out;
    std::mt19937 rng(2);
    for (auto _ : state) {
        const int i = static_cast<int>(rng() % (kEvents - 10));
        r.list.GetEventList(out, CEegEventMask::EmptyMask, r.list[i]->GetTimeStamp(),
                            r.list[i + 9]->GetTimeStamp(), 10, 0);
        benchmark::DoNotOptimize(out.GetSize());
    }
}
BENCHMARK(BM_Window10);

// Adding 1 000 000 events in time order; the time per event is reported.
void BM_AddAtEnd(benchmark::State& state) {
    Recording& r = Shared();
    for (auto _ : state) {
        CEegEventList list;
        list.SetSize(0, 4096);
        for (int i = 0; i < kEvents; ++i)
            list.Add(r.list[i]);
        benchmark::DoNotOptimize(list.GetSize());
    }
    state.counters["ns_per_add"] = benchmark::Counter(
        static_cast<double>(kEvents) * 1e9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddAtEnd)->Unit(benchmark::kMillisecond);

void BM_Store(benchmark::State& state) {
    Recording& r = Shared();
    const std::string path = TempPath("EventListBench.store");
    for (auto _ : state) {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        CArchive ar(&file, CArchive::store);
        r.list.Serialize(ar);
        ar.Close();
        file.Close();
    }
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    std::filesystem::remove(path);
}
BENCHMARK(BM_Store)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
    Recording& r = Shared();
    const std::string path = TempPath("EventListBench.load");
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        CArchive ar(&file, CArchive::store);
        r.list.Serialize(ar);
        ar.Close();
    }
    for (auto _ : state) {
        CEegEventList loaded;
        loaded.SetSize(0, 4096);
        {
            CFile file(path.c_str(), CFile::modeRead);
            CArchive ar(&file, CArchive::load);
            loaded.Serialize(ar);
        }
        state.PauseTiming();
        if (loaded.GetSize() != kEvents)
            state.SkipWithError("wrong event count");
        for (int i = 0; i < loaded.GetSize(); ++i)
            delete loaded.GetAt(i);
        state.ResumeTiming();
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// The I/O floor: the same stored bytes written and read with stdio.
void BM_StoreLoadReference(benchmark::State& state) {
    Recording& r = Shared();
    const std::string path = TempPath("EventListBench.ref");
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        CArchive ar(&file, CArchive::store);
        r.list.Serialize(ar);
        ar.Close();
    }
    std::vector<char> bytes(std::filesystem::file_size(path));
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        f = std::fopen(path.c_str(), "rb");
        benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), f));
        std::fclose(f);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_StoreLoadReference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
