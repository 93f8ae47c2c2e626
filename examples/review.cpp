// Opens a recording for reading, lists its events and prints the peak-to-peak
// amplitude of every stored channel in its first second, the way a review
// program reads: open, read by position, ask for events in a window, close.
//
//     review_example recording.eeg
#include <algorithm>
#include <cstdio>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "EegFile/winfile/WinEegFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: review_example FILE\n");
        return 2;
    }
    CWinEegFile file;
    try {
        file.Open(argv[1], 0);  // 0: read; other stations may keep recording
        std::printf("%u s at %g samples/s\n", file.GetLengthInSeconds(), file.GetSampleRate());

        // Every event (an empty mask selects all types) over the whole recording.
        CEegEventList events;
        file.GetEventList(events, CEegEventMask(), CEegTimeStamp::NullStamp,
                          CEegTimeStamp::NullStamp, 0, 0);
        for (int i = 0; i < events.GetSize(); ++i)
            std::printf("  %s\n", events.GetAt(i)->AsString(&file).GetString());

        // The first second: ReadEegDataAt leaves the read position alone.
        const int rate = static_cast<int>(file.GetSampleRate());
        CEegDataChunk chunk(rate, 32);
        if (file.ReadEegDataAt(CEegTimeStamp(0), chunk, rate)) {
            const CAmpInputDomain& stored = file.GetAmpHardwareInfo().GetInputDomain();
            for (int k = 0; k < stored.GetSize(); ++k) {
                const int slot = CAmpHardwareInfo::GetAmpChannelIndex(stored.GetAt(k));
                if (slot < 0)
                    continue;
                int lo = 32767, hi = -32768;
                for (uint32_t i = 0; i < chunk.GetNumberOfSamples(); ++i) {
                    lo = std::min<int>(lo, chunk.GetFrame(i)[slot]);
                    hi = std::max<int>(hi, chunk.GetFrame(i)[slot]);
                }
                std::printf("  %-4s %6d bits peak to peak\n", AmpInput::GetName(slot), hi - lo);
            }
        }
        file.Close();
    } catch (CException* e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    return 0;
}
