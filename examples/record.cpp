// Records ten seconds of a 10 Hz sine on eight channels, with a comment, the way
// an acquisition program uses the library: create, prepare, start a run, hand
// over samples as they arrive, stop, close.
//
//     record_example out.eeg
#include <cmath>
#include <cstdio>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/events/CommentEvent.h"
#include "EegFile/winfile/WinEegFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: record_example OUT\n");
        return 2;
    }
    const int rate = 200;

    // The amplifier stores inputs Fp1 ... F8 (jacks 0-7).
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < 8; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo amp;
    amp.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));

    CWinEegFile file;
    try {
        file.Create(argv[1]);  // exclusive access while the header is written
        file.PrepareToWriteEeg(rate, Compression::AdaptiveDelta, amp);
        file.SetWriteThreadOnOff(1);  // seconds go to disk in the background
        file.StartRecording(COleDateTime::GetCurrentTime());

        // Chunks always carry 32-slot frames; unstored slots are ignored.
        CEegDataChunk chunk(rate / 10, 32);
        for (int n = 0; n < 10 * rate; n += rate / 10) {
            for (int i = 0; i < rate / 10; ++i) {
                int16_t* frame = chunk.GetFrame(i);
                for (int s = 0; s < 32; ++s)
                    frame[s] = static_cast<int16_t>(300 * std::sin(2 * M_PI * 10 * (n + i) / rate));
            }
            chunk.SetNumberOfSamples(rate / 10);
            file.WriteEegData(chunk);
            if (n == 5 * rate)
                file.AddEvent(
                    new CCommentEvent(CEegTimeStamp(n), "Eyes open", 5));  // the file owns it
        }
        file.StopRecording();
        file.SetWriteThreadOnOff(0);
        std::printf("%s: %u samples\n", argv[1], file.GetLengthInSamples());
        file.Close();
    } catch (CException* e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    return 0;
}
