// Reads every sample of a recording (either format) through CEegFile in blocks of
// 65536 samples, as the Python module's read does, into a buffer of the stored
// channels (samples x channels), and prints the times in seconds. The
// reference for PythonBench.py, which times the module on the same file. Prints
// the best of 3 into a new buffer each time (as the module's array is new), then
// the best of 3 into one buffer already touched: "fresh reused length channels".
//
// Usage: ReadAllBench FILE
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "EegBase/EegDataChunk.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Exception.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ReadAllBench FILE\n");
        return 2;
    }
    try {
        std::unique_ptr<CEegFile> file;
        if (CEegFile::IsDosRecordingPath(argv[1]))
            file = std::make_unique<CDosEegFile>();
        else
            file = std::make_unique<CWinEegFile>();
        file->Open(argv[1], 0);
        std::vector<int> slots;
        const CAmpInputDomain& inputs = file->GetAmpHardwareInfo().GetInputDomain();
        for (int i = 0; i < inputs.GetSize(); ++i)
            slots.push_back(CAmpHardwareInfo::GetAmpChannelIndex(inputs.GetAt(i)));
        const uint32_t length = file->GetLengthInSamples();
        const size_t k = slots.size();
        constexpr uint32_t kBlock = 65536;
        CEegDataChunk chunk(static_cast<int>(kBlock) + 1, 32);
        long long sum = 0;
        const auto readAll = [&](int16_t* out) {
            const auto start = std::chrono::steady_clock::now();
            for (uint32_t done = 0; done < length;) {
                const uint32_t n = std::min(length - done, kBlock);
                file->ReadEegDataAt(CEegTimeStamp(done), chunk, n);
                const int16_t* frames = chunk.GetData();
                int16_t* row = out + static_cast<size_t>(done) * k;
                for (uint32_t i = 0; i < n; ++i, row += k, frames += 32)
                    for (size_t c = 0; c < k; ++c)
                        row[c] = frames[slots[c]];
                done += n;
            }
            sum += out[static_cast<size_t>(length) * k / 2];
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        // A new buffer each time, as the module makes a new array; and one buffer
        // read into again, which leaves out the cost of the memory's first touch.
        double fresh = 1e300, reused = 1e300;
        for (int run = 0; run < 3; ++run) {
            std::unique_ptr<int16_t[]> out(new int16_t[static_cast<size_t>(length) * k]);
            fresh = std::min(fresh, readAll(out.get()));
        }
        std::unique_ptr<int16_t[]> out(new int16_t[static_cast<size_t>(length) * k]);
        for (int run = 0; run < 4; ++run)
            reused = std::min(reused, readAll(out.get()) + (run == 0 ? 1e300 : 0));
        file->Close();
        std::printf("%.4f %.4f %u %zu %lld\n", fresh, reused, length, k, sum);
    } catch (CException* e) {
        std::fprintf(stderr, "ReadAllBench: %s\n", e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    return 0;
}
