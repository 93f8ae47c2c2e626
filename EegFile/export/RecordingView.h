// What the EDF writer and the page renderer both read from a recording through
// CEegFile: the window to show, the stored channels with their names and
// gains, and the holes (deleted stretches) inside a window.
#pragma once

#include <cstdint>
#include <vector>

#include "EegFile/frame/EegFile.h"
#include "Platform/String.h"

namespace RecordingView {

// A sample window [first, first + count) of a recording.
struct Window {
    uint32_t first = 0;
    uint32_t count = 0;
};

// The window of `seconds` from `fromSeconds` (seconds <= 0: to the end), cut at
// the recording's length. A negative or non-finite start, a start at or beyond
// the end, or a recording without samples raises CExportException.
Window ResolveWindow(const CEegFile& file, double fromSeconds, double seconds);

// One stored channel: its slot in a sample frame, its input, name and gain.
struct StoredChannel {
    int slot = 0;
    int input = -1;
    CString label;
    double gain = 1.0;  // physical units per digital step
    CString dimension;  // "uV", or "" when the amplifier gives no gain
};

// Every stored input in storing order, named after the referential trace of
// `montage` that shows it (active input the channel, reference not another
// stored input), else after the input.
std::vector<StoredChannel> GetStoredChannels(const CAmpHardwareInfo& amp,
                                             const CEegMontage& montage);

// A hole [start, end) in sample offsets.
struct Hole {
    uint32_t start = 0;
    uint32_t end = 0;
};

// The holes that overlap [from, to), in time order, from the recording's pairs
// of data-deletion events; a start without its end runs to `to`.
std::vector<Hole> GetHoles(const CEegFile& file, uint32_t from, uint32_t to);

// Every event of [from, to] (both inclusive), in time order. The events stay
// the recording's; the list is valid until the recording changes.
void GetEvents(const CEegFile& file, uint32_t from, uint32_t to, CEegEventList& list);

// The display text of an event without the position prefix; a fallback naming
// the event's type when the event has no text.
CString EventText(const CEegEvent& event);

// The wall-clock time of sample offset `at`, with the fraction of a second the
// recording's one-second time of day leaves out, in microseconds (0-999999).
// A recording without a start time gives the null time.
CTKTime TimeOfDayAt(const CEegFile& file, uint32_t at, int& microseconds);

}  // namespace RecordingView

namespace RecordingView {

// Puts the finished output at `temporary` in place of `path`: flushed to disk
// first, then renamed over it, so a failure leaves the old file or the new one.
// The temporary file is removed when this fails.
void CommitOutput(const char* temporary, const char* path);

}  // namespace RecordingView
