#include "EegFile/export/RecordingView.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegMontage.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "EegFile/export/ExportException.h"
#include "Platform/File.h"

namespace RecordingView {

namespace {

uint32_t IntegerRate(const CEegFile& file) {
    const double rate = file.GetSampleRate();
    return rate >= 1.0 && rate < 1e6 ? static_cast<uint32_t>(rate) : 0;
}

}  // namespace

Window ResolveWindow(const CEegFile& file, double fromSeconds, double seconds) {
    const uint32_t rate = IntegerRate(file);
    const uint32_t length = file.GetLengthInSamples();
    if (rate == 0 || length == 0)
        throw new CExportException("The recording holds no samples.");
    if (!std::isfinite(fromSeconds) || fromSeconds < 0 || !std::isfinite(seconds)) {
        CString text;
        text.Format("Invalid window: from %g s for %g s.", fromSeconds, seconds);
        throw new CExportException(text);
    }
    const double first = std::floor(fromSeconds * rate + 0.5);
    if (first >= length) {
        CString text;
        text.Format("The start %g s lies at or beyond the end of the recording (%u s).",
                    fromSeconds, length / rate);
        throw new CExportException(text);
    }
    Window w;
    w.first = static_cast<uint32_t>(first);
    w.count = length - w.first;
    const double wanted = std::floor(seconds * rate + 0.5);
    if (seconds > 0 && wanted < w.count)
        w.count = wanted < 1 ? 1u : static_cast<uint32_t>(wanted);
    return w;
}

std::vector<StoredChannel> GetStoredChannels(const CAmpHardwareInfo& amp,
                                             const CEegMontage& montage) {
    const CAmpInputDomain& domain = amp.GetInputDomain();
    int inputOfSlot[CAmpHardwareInfo::kSlotCount];
    for (int& i : inputOfSlot)
        i = -1;
    for (int k = 0; k < domain.GetSize(); ++k) {
        const AmpInput::AmpInputType input = domain.GetAt(k);
        const int slot = CAmpHardwareInfo::GetAmpChannelIndex(input);
        if (slot >= 0 && slot < CAmpHardwareInfo::kSlotCount && inputOfSlot[slot] < 0)
            inputOfSlot[slot] = input;
    }
    std::vector<StoredChannel> channels;
    for (int slot = 0; slot < CAmpHardwareInfo::kSlotCount; ++slot) {
        if (inputOfSlot[slot] < 0)
            continue;
        StoredChannel c;
        c.slot = slot;
        c.input = inputOfSlot[slot];
        const auto input = static_cast<AmpInput::AmpInputType>(c.input);
        const char* name = AmpInput::GetName(c.input);
        c.label = name ? name : "";
        // A bipolar trace names a derivation, not this channel: only a trace
        // whose reference is not another stored channel may name it.
        for (int t = 0; t < CEegMontage::kMaxTraces; ++t) {
            const CTraceInfo& trace = montage.GetTraceInfo(t);
            if (CAmpHardwareInfo::GetAmpChannelIndex(trace.GetActInput()) != slot ||
                trace.GetLabel().IsEmpty())
                continue;
            const int refSlot = CAmpHardwareInfo::GetAmpChannelIndex(trace.GetRefInput());
            if (refSlot >= 0 && inputOfSlot[refSlot] >= 0)
                continue;
            c.label = trace.GetLabel();
            break;
        }
        const double gain = amp.GetInputGain(input);
        if (std::isfinite(gain) && gain > 0) {
            c.gain = gain;
            c.dimension = "uV";
        }
        channels.push_back(c);
    }
    return channels;
}

void GetEvents(const CEegFile& file, uint32_t from, uint32_t to, CEegEventList& list) {
    file.GetEventList(list, CEegEventMask::EmptyMask, CEegTimeStamp(from), CEegTimeStamp(to), 0, 0);
}

std::vector<Hole> GetHoles(const CEegFile& file, uint32_t from, uint32_t to) {
    CEegEventMask onlyDeletions;
    onlyDeletions.SetAll(1);
    onlyDeletions.SetMask(CEegEvent::etDataDeletion, 0);
    CEegEventList list;
    // A hole that began before the window shows up by its end event.
    file.GetEventList(list, onlyDeletions, CEegTimeStamp(from), CEegTimeStamp::NullStamp, 0, 0);
    std::vector<Hole> holes;
    std::set<uint32_t> starts;
    for (int i = 0; i < list.GetSize(); ++i) {
        const auto* d = static_cast<const CDataDeletionEvent*>(list[i]);
        Hole h{d->GetStartTimeStamp().GetSampleOffset(), d->GetEndTimeStamp().GetSampleOffset()};
        if (d->IsDeletionStart() && h.start >= to)
            break;
        if (h.end < h.start || h.end > to)
            h.end = to;
        if (h.end <= from || h.end <= h.start || !starts.insert(h.start).second)
            continue;
        holes.push_back(h);
    }
    return holes;
}

CString EventText(const CEegEvent& event) {
    CString text = event.AsString(nullptr);
    text.Trim();
    if (text.IsEmpty())
        text.Format("Event %d", static_cast<int>(event.GetEventType()));
    return text;
}

CTKTime TimeOfDayAt(const CEegFile& file, uint32_t at, int& microseconds) {
    microseconds = 0;
    const CTKTime t = file.GetTimeOfDay(at);
    const uint32_t rate = IntegerRate(file);
    if (t.IsNull() || rate == 0)
        return t;
    // The time of day counts whole seconds from the last record event.
    CEegEventMask onlyRecords;
    onlyRecords.SetAll(1);
    onlyRecords.SetMask(CEegEvent::etRecord, 0);
    CEegEventList records;
    file.GetEventList(records, onlyRecords, CEegTimeStamp::NullStamp, CEegTimeStamp(at), 0, 0);
    const uint32_t base = records.GetSize() > 0
                              ? records[records.GetSize() - 1]->GetTimeStamp().GetSampleOffset()
                              : 0;
    microseconds = static_cast<int>(static_cast<uint64_t>((at - base) % rate) * 1000000u / rate);
    return t;
}

void CommitOutput(const char* temporary, const char* path) {
    try {
        CFile done;
        CFileException* error = new CFileException;
        if (!done.Open(temporary, CFile::modeReadWrite | CFile::shareDenyNone, error))
            throw error;
        error->Delete();
        done.Flush();
        done.Close();
        CFile::Rename(temporary, path);
    } catch (CException*) {
        std::remove(temporary);
        throw;
    }
}

}  // namespace RecordingView
