#include "EegFile/export/EdfExport.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegBase/EegMontage.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/export/ExportException.h"

namespace {

constexpr uint32_t kBlockSeconds = 16;             // seconds read from the recording at once
constexpr int kMaxAnnotationSignals = 64;          // EDFlib's limit
constexpr long long kOnsetUnitsPerSecond = 10000;  // EDFlib counts onsets in 100 us
constexpr int kAnnotationChars = 40;               // EDFlib's longest annotation text

[[noreturn]] void Fail(const char* path, const char* what) {
    CString text;
    text.Format("EDF export to %s: %s.", path, what);
    throw new CExportException(text);
}

// EDF headers hold printable ASCII only.
CString HeaderText(const CString& text) {
    CString out;
    for (int i = 0; i < text.GetLength(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += c >= 32 && c < 127 ? static_cast<char>(c) : '_';
    }
    out.Trim();
    return out;
}

// Closes an EDFlib handle and removes its file unless released.
class CEdfOutput {
public:
    CEdfOutput(int handle, const char* path) : m_nHandle(handle), m_strPath(path) {}
    ~CEdfOutput() {
        if (m_nHandle >= 0) {
            edfclose_file(m_nHandle);
            std::remove(m_strPath);
        }
    }
    // Closes the file, which writes the annotations; 0 on success.
    int Close() {
        const int result = edfclose_file(m_nHandle);
        m_nHandle = -1;
        return result;
    }

private:
    int m_nHandle;
    CString m_strPath;
};

}  // namespace

CEdfExport::CEdfExport(CEegFile& file, double fromSeconds, double seconds) : m_File(file) {
    const double rate = file.GetSampleRate();
    if (!(rate >= 1.0 && rate <= 1e6 && rate == std::floor(rate)))
        throw new CExportException("EDF export needs a whole number of samples per second.");
    m_nRate = static_cast<uint32_t>(rate);
    m_Window = RecordingView::ResolveWindow(file, fromSeconds, seconds);
}

void CEdfExport::WriteHeader(int handle, const std::vector<RecordingView::StoredChannel>& channels,
                             const char* path) {
    for (size_t i = 0; i < channels.size(); ++i) {
        const RecordingView::StoredChannel& c = channels[i];
        const int s = static_cast<int>(i);
        // Digital samples are written exactly as stored; the physical range is
        // the digital one times the gain, so a reader's value is sample x gain.
        if (edf_set_samplefrequency(handle, s, static_cast<int>(m_nRate)) != 0 ||
            edf_set_digital_maximum(handle, s, 32767) != 0 ||
            edf_set_digital_minimum(handle, s, -32768) != 0 ||
            edf_set_physical_maximum(handle, s, 32767 * c.gain) != 0 ||
            edf_set_physical_minimum(handle, s, -32768 * c.gain) != 0 ||
            edf_set_label(handle, s, HeaderText(c.label)) != 0 ||
            edf_set_physical_dimension(handle, s, c.dimension) != 0)
            Fail(path, "the signal header was refused");
    }

    int microseconds = 0;
    const CTKTime start = RecordingView::TimeOfDayAt(m_File, m_Window.first, microseconds);
    // EDF+ dates run from 1985 to 2084; an unknown start is given as the first day.
    if (!start.IsNull() && start.m_wYear >= 1985 && start.m_wYear <= 2084) {
        if (edf_set_startdatetime(handle, start.m_wYear, start.m_wMonth, start.m_wDay,
                                  start.m_wHour, start.m_wMinute, start.m_wSecond) != 0 ||
            edf_set_subsecond_starttime(handle, microseconds * 10) != 0)
            Fail(path, "the start time was refused");
    } else if (edf_set_startdatetime(handle, 1985, 1, 1, 0, 0, 0) != 0) {
        Fail(path, "the start time was refused");
    }

    const CPatientInfo& patient = m_File.GetPatientInfo();
    CString name = patient.GetLastName();
    for (const CString& part : {patient.GetFirstName(), patient.GetMiddleInitial()}) {
        if (!part.IsEmpty())
            name += (name.IsEmpty() ? "" : " ") + part;
    }
    if (edf_set_patientname(handle, HeaderText(name)) != 0 ||
        edf_set_patientcode(handle, HeaderText(patient.GetPatientId())) != 0)
        Fail(path, "the patient was refused");
    if (patient.GetSex() != CPatientInfo::sexUnset &&
        edf_set_gender(handle, patient.GetSex() == CPatientInfo::sexMale ? 1 : 0) != 0)
        Fail(path, "the patient's sex was refused");
    if (patient.GetBirthDateStatus() == CPatientInfo::dtValid) {
        const COleDateTime birth(patient.GetBirthDate());
        const int year = birth.GetYear();
        if (year >= 1800 && year <= 3000 &&
            edf_set_birthdate(handle, year, birth.GetMonth(), birth.GetDay()) != 0)
            Fail(path, "the birth date was refused");
    }
}

std::vector<CEdfExport::Annotation> CEdfExport::GetAnnotations() const {
    CEegEventList events;
    RecordingView::GetEvents(m_File, m_Window.first, m_Window.first + m_Window.count, events);
    std::vector<Annotation> notes;
    for (int i = 0; i < events.GetSize(); ++i) {
        const CEegEvent& e = *events[i];
        const long long onset =
            static_cast<long long>(e.GetTimeStamp().GetSampleOffset() - m_Window.first) *
            kOnsetUnitsPerSecond / m_nRate;
        // EDFlib keeps 40 characters of a text: a longer one goes in pieces.
        const CString text = RecordingView::EventText(e);
        for (int at = 0; at < text.GetLength(); at += kAnnotationChars)
            notes.push_back({onset, text.Mid(at, kAnnotationChars)});
    }
    return notes;
}

void CEdfExport::Write(const char* path, CVoidCall1Arg<int64_t>* progress) {
    const auto channels = RecordingView::GetStoredChannels(m_File.GetAmpHardwareInfo(), [&] {
        CEegMontage montage;
        m_File.GetMontageAt(CEegTimeStamp(m_Window.first), montage);
        return montage;
    }());
    if (channels.empty())
        Fail(path, "the recording stores no channels");

    // Each annotation signal holds one annotation per data record.
    const std::vector<Annotation> notes = GetAnnotations();
    const uint32_t records = GetRecordCount();
    const int64_t annotationSignals =
        std::max<int64_t>(1, (static_cast<int64_t>(notes.size()) + records - 1) / records + 1);
    if (annotationSignals > kMaxAnnotationSignals)
        Fail(path, "the window holds more events than its data records can carry");

    const CString temporary = CString(path) + ".tmp";
    const int handle = edfopen_file_writeonly(temporary, EDFLIB_FILETYPE_EDFPLUS,
                                              static_cast<int>(channels.size()));
    if (handle < 0)
        Fail(path, "the file cannot be created");
    CEdfOutput output(handle, temporary);
    if (edf_set_number_of_annotation_signals(handle, static_cast<int>(annotationSignals)) != 0)
        Fail(path, "too many annotation signals");
    WriteHeader(handle, channels, path);
    for (const Annotation& a : notes) {
        if (edfwrite_annotation_latin1(handle, a.onset, -1, a.text) != 0)
            Fail(path, "an annotation was refused");
    }

    const auto holes =
        RecordingView::GetHoles(m_File, m_Window.first, m_Window.first + m_Window.count);
    const uint32_t rate = m_nRate;
    CEegDataChunk chunk(static_cast<int>(kBlockSeconds * rate), 32);
    std::vector<short> record(channels.size() * rate);
    uint32_t written = 0;
    while (written < m_Window.count) {
        const uint32_t at = m_Window.first + written;
        const uint32_t want = std::min(kBlockSeconds * rate, m_Window.count - written);
        chunk.SetNumberOfSamples(0);
        m_File.ReadEegDataAt(CEegTimeStamp(at), chunk, want);
        // Samples the recording does not deliver, and holes, are zeros.
        const uint32_t have = std::min(chunk.GetNumberOfSamples(), want);
        std::fill(chunk.GetData() + static_cast<size_t>(have) * 32,
                  chunk.GetData() + static_cast<size_t>(want) * 32, int16_t{0});
        for (const auto& h : holes) {
            const uint32_t from = std::max(h.start, at), to = std::min(h.end, at + want);
            if (from < to)
                std::fill(chunk.GetFrame(from - at),
                          chunk.GetFrame(from - at) + static_cast<size_t>(to - from) * 32,
                          int16_t{0});
        }
        for (uint32_t r = 0; r < want; r += rate) {
            const uint32_t n = std::min(rate, want - r);
            for (size_t c = 0; c < channels.size(); ++c) {
                short* out = &record[c * rate];
                const int16_t* in =
                    chunk.GetData() + static_cast<size_t>(r) * 32 + channels[c].slot;
                for (uint32_t s = 0; s < n; ++s, in += 32)
                    out[s] = *in;
                std::fill(out + n, out + rate, short{0});
            }
            if (edf_blockwrite_digital_short_samples(handle, record.data()) != 0)
                Fail(path, "writing samples failed");
        }
        written += want;
        if (progress)
            progress->Call((written + rate - 1) / rate);
    }
    if (output.Close() != 0)
        Fail(path, "closing the file failed");

    RecordingView::CommitOutput(temporary, path);
}
