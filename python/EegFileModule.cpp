// The Python module's native part, `eegfile._eegfile`: a recording opened for
// reading (either format), its samples as numpy arrays, its events, montages and
// times. The Python package (eegfile/__init__.py) builds the rest on it.
//
// Samples go from the library's read buffer straight into the array: one copy,
// no Python work per sample. The GIL is released while reading. Library
// exceptions become eegfile.Error with the library's message, its code and its
// kind.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "EegBase/AmpInput.h"
#include "EegBase/EegDataChunk.h"
#include "EegBase/EegMontage.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosFileException.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/export/RecordingView.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Database.h"
#include "Platform/Exception.h"
#include "tools/Tool.h"

namespace py = pybind11;

namespace {

constexpr uint32_t kBlockSamples = 65536;  // samples read per library call

// Raises eegfile.Error(message, code, kind) for a library exception, which it frees.
[[noreturn]] void Raise(CException* e) {
    int code = 0;
    const char* kind = "error";
    if (const auto* f = dynamic_cast<CDosFileException*>(e)) {
        code = f->GetErrorCode();
        kind = "legacy";
    } else if (const auto* r = dynamic_cast<CEegFileException*>(e)) {
        code = r->GetErrorCode();
        kind = "recording";
    } else if (const auto* fe = dynamic_cast<CFileException*>(e)) {
        code = fe->m_cause;
        kind = "file";
    } else if (const auto* a = dynamic_cast<CArchiveException*>(e)) {
        code = a->m_cause;
        kind = "archive";
    } else if (const auto* d = dynamic_cast<CDBException*>(e)) {
        code = d->m_nRetCode;
        kind = "database";
    }
    const std::string message = e->GetErrorText().str();
    e->Delete();
    py::object error = py::module_::import("eegfile").attr("Error");
    PyErr_SetObject(error.ptr(), py::make_tuple(message, code, kind).ptr());
    throw py::error_already_set();
}

// Runs f, turning a library exception into eegfile.Error.
template <class F>
auto Guarded(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (CException* e) {
        Raise(e);
    }
}

py::object DateTime(const CTKTime& t, int microseconds = 0) {
    if (t.IsNull())
        return py::none();
    return py::module_::import("datetime")
        .attr("datetime")(t.m_wYear, t.m_wMonth, t.m_wDay, t.m_wHour, t.m_wMinute, t.m_wSecond,
                          microseconds);
}

class Recording {
public:
    explicit Recording(const std::string& path) : m_path(path) {
        Guarded([&] {
            m_file = eegtool::OpenRecording(path, 0);
            CEegMontage first;
            m_file->GetMontageAt(CEegTimeStamp(0), first);
            m_channels = RecordingView::GetStoredChannels(m_file->GetAmpHardwareInfo(), first);
        });
    }
    ~Recording() { Close(); }

    void Close() {
        if (!m_file)
            return;
        try {
            m_file->Close();
        } catch (CException* e) {
            e->Delete();  // closing a reader loses nothing
        }
        m_file.reset();
    }

    CEegFile& File() {
        if (!m_file)
            throw py::value_error("the recording is closed");
        return *m_file;
    }

    const std::string& Path() const { return m_path; }
    double Rate() { return File().GetSampleRate(); }
    uint32_t Length() {
        return Guarded([&] { return File().GetLengthInSamples(); });
    }

    py::list Channels() {
        File();
        py::list out;
        for (const auto& c : m_channels)
            out.append(py::dict(py::arg("slot") = c.slot, py::arg("label") = c.label.str(),
                                py::arg("gain") = c.gain, py::arg("unit") = c.dimension.str()));
        return out;
    }

    // Slots of the channels asked for (None: every stored one), by slot number,
    // channel label or input name.
    std::vector<int> Slots(const py::object& channels) {
        std::vector<int> slots;
        if (channels.is_none()) {
            for (const auto& c : m_channels)
                slots.push_back(c.slot);
            return slots;
        }
        for (const py::handle item : channels) {
            int slot = -1;
            if (py::isinstance<py::int_>(item)) {
                slot = item.cast<int>();
            } else {
                const std::string name = py::str(item);
                for (const auto& c : m_channels)
                    if (c.label.str() == name || name == AmpInput::GetName(c.slot))
                        slot = c.slot;
            }
            if (slot < 0 || slot >= 32)
                throw py::value_error("no such channel: " + std::string(py::str(item)));
            slots.push_back(slot);
        }
        return slots;
    }

    // Reads [start, start + count) of the slots, handing each block of frames to put.
    template <class Put>
    void ReadBlocks(uint32_t start, uint32_t count, Put&& put) {
        CEegDataChunk chunk(static_cast<int>(std::min(count, kBlockSamples)) + 1, 32);
        CEegFile& file = File();
        Guarded([&] {
            py::gil_scoped_release unlocked;
            for (uint32_t done = 0; done < count;) {
                const uint32_t n = std::min(count - done, kBlockSamples);
                file.ReadEegDataAt(CEegTimeStamp(start + done), chunk, n);
                put(done, chunk.GetData(), n);
                done += n;
            }
        });
    }

    uint32_t Count(uint32_t start, const py::object& count) {
        const uint32_t length = Length();
        if (start > length)
            throw py::index_error("start " + std::to_string(start) + " is past the end (" +
                                  std::to_string(length) + " samples)");
        return count.is_none() ? length - start : std::min(count.cast<uint32_t>(), length - start);
    }

    // Samples [start, start + count) of the channels: the stored integers, or (T
    // floating) each times its channel's gain and unit (1: microvolts, 1e-6:
    // volts). Samples x channels, or with kByChannel channels x samples, the
    // layout MNE keeps, written in the same single pass.
    template <class T, bool kByChannel = false>
    py::array_t<T> ReadAs(uint32_t start, const py::object& count, const py::object& channels,
                          double unit = 1.0) {
        const std::vector<int> slots = Slots(channels);
        const size_t k = slots.size();
        std::vector<T> gains(k, T(1));
        for (size_t c = 0; c < k; ++c)
            for (const auto& stored : m_channels)
                if (stored.slot == slots[c])
                    gains[c] = static_cast<T>(stored.gain * unit);
        const uint32_t n = Count(start, count);
        const auto rows = static_cast<py::ssize_t>(kByChannel ? k : n);
        const auto columns = static_cast<py::ssize_t>(kByChannel ? n : k);
        py::array_t<T> out({rows, columns});
        T* to = out.mutable_data();
        // Where sample i of channel c goes, from a block's first sample `at`.
        const size_t sampleStep = kByChannel ? 1 : k, channelStep = kByChannel ? n : 1;
        ReadBlocks(start, n, [&](uint32_t at, const int16_t* frames, uint32_t samples) {
            T* first = to + static_cast<size_t>(at) * sampleStep;
            for (uint32_t i = 0; i < samples; ++i, first += sampleStep, frames += 32)
                for (size_t c = 0; c < k; ++c) {
                    if constexpr (std::is_floating_point_v<T>)
                        first[c * channelStep] = static_cast<T>(frames[slots[c]]) * gains[c];
                    else
                        first[c * channelStep] = frames[slots[c]];
                }
        });
        return out;
    }

    std::string InfoJson() {
        return Guarded([&] { return eegtool::JsonText(eegtool::RecordingInfo(m_path)); });
    }

    std::string EventsJson(const py::object& types, const py::object& start,
                           const py::object& stop) {
        std::vector<int> wanted;
        if (!types.is_none())
            for (const py::handle t : types)
                wanted.push_back(py::isinstance<py::int_>(t)
                                     ? t.cast<int>()
                                     : eegtool::ParseEventTypes(py::str(t)).front());
        const CEegTimeStamp from =
            start.is_none() ? CEegTimeStamp::NullStamp : CEegTimeStamp(start.cast<uint32_t>());
        const CEegTimeStamp to =
            stop.is_none() ? CEegTimeStamp::NullStamp : CEegTimeStamp(stop.cast<uint32_t>());
        return Guarded([&] {
            CEegEventList events;
            eegtool::SelectEvents(File(), wanted, from, to, events);
            return eegtool::JsonText(eegtool::EventsJson(File(), events));
        });
    }

    py::dict MontageAt(uint32_t offset) {
        CEegMontage montage;
        Guarded([&] { return File().GetMontageAt(CEegTimeStamp(offset), montage); });
        py::list traces;
        for (int i = 0; i < 32; ++i) {
            const CTraceInfo& t = montage.GetTraceInfo(i);
            if (t.GetActInput() < 0)
                continue;
            traces.append(py::dict(py::arg("label") = std::string(t.GetLabel()),
                                   py::arg("active") = AmpInput::GetName(t.GetActInput()),
                                   py::arg("reference") = AmpInput::GetName(t.GetRefInput()),
                                   py::arg("sensitivity") = t.GetSensitivity(),
                                   py::arg("high_cut") = t.GetHighCut(),
                                   py::arg("low_cut") = t.GetLowCut()));
        }
        return py::dict(py::arg("name") = std::string(montage.GetName()),
                        py::arg("traces") = traces);
    }

    py::object TimeOfDay(uint32_t offset) {
        int microseconds = 0;
        const CTKTime t =
            Guarded([&] { return RecordingView::TimeOfDayAt(File(), offset, microseconds); });
        return DateTime(t, microseconds);
    }

    uint32_t Synchronize() {
        return Guarded([&] {
            File().Synchronize();
            return File().GetLengthInSamples();
        });
    }

    py::list Holes() {
        py::list out;
        for (const auto& h : Guarded(
                 [&] { return RecordingView::GetHoles(File(), 0, File().GetLengthInSamples()); }))
            out.append(py::make_tuple(h.start, h.end));
        return out;
    }

private:
    std::string m_path;
    std::unique_ptr<CEegFile> m_file;
    std::vector<RecordingView::StoredChannel> m_channels;
};

}  // namespace

PYBIND11_MODULE(_eegfile, m) {
    m.doc() = "EEG recordings of both formats, read into numpy";
    py::class_<Recording>(m, "Recording")
        .def(py::init<const std::string&>(), py::arg("path"))
        .def_property_readonly("path", &Recording::Path)
        .def_property_readonly("rate", &Recording::Rate)
        .def_property_readonly("length", &Recording::Length)
        .def_property_readonly("channels", &Recording::Channels)
        .def(
            "read",
            [](Recording& r, uint32_t start, const py::object& count, const py::object& channels) {
                return r.ReadAs<int16_t>(start, count, channels);
            },
            py::arg("start") = 0, py::arg("count") = py::none(), py::arg("channels") = py::none())
        .def(
            "read_uv",
            [](Recording& r, uint32_t start, const py::object& count, const py::object& channels) {
                return r.ReadAs<float>(start, count, channels);
            },
            py::arg("start") = 0, py::arg("count") = py::none(), py::arg("channels") = py::none())
        .def("read_volts_by_channel",
             [](Recording& r) { return r.ReadAs<double, true>(0, py::none(), py::none(), 1e-6); })
        .def("info_json", &Recording::InfoJson)
        .def("events_json", &Recording::EventsJson, py::arg("types") = py::none(),
             py::arg("start") = py::none(), py::arg("stop") = py::none())
        .def("montage_at", &Recording::MontageAt, py::arg("offset"))
        .def("time_of_day", &Recording::TimeOfDay, py::arg("offset"))
        .def("synchronize", &Recording::Synchronize)
        .def("holes", &Recording::Holes)
        .def("close", &Recording::Close);
}
