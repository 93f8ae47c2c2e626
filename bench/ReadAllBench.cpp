// Reads every sample of a recording (either format) through CEegFile in blocks of
// 65536 samples, as the Python module's read does, into one buffer of the stored
// channels (samples x channels), and prints the best of 3 in seconds. The
// reference for PythonBench.py, which times the module on the same file.
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
        std::vector<int16_t> out(static_cast<size_t>(length) * k);
        constexpr uint32_t kBlock = 65536;
        CEegDataChunk chunk(static_cast<int>(kBlock) + 1, 32);
        double best = 1e300;
        long long sum = 0;
        for (int run = 0; run < 3; ++run) {
            const auto start = std::chrono::steady_clock::now();
            for (uint32_t done = 0; done < length;) {
                const uint32_t n = std::min(length - done, kBlock);
                file->ReadEegDataAt(CEegTimeStamp(done), chunk, n);
                const int16_t* frames = chunk.GetData();
                int16_t* row = out.data() + static_cast<size_t>(done) * k;
                for (uint32_t i = 0; i < n; ++i, row += k, frames += 32)
                    for (size_t c = 0; c < k; ++c)
                        row[c] = frames[slots[c]];
                done += n;
            }
            best = std::min(
                best,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            sum += out[out.size() / 2];
        }
        file->Close();
        std::printf("%.4f %u %zu %lld\n", best, length, k, sum);
    } catch (CException* e) {
        std::fprintf(stderr, "ReadAllBench: %s\n", e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    return 0;
}
