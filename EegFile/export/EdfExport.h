// CEdfExport: writes a recording, or a window of it, to an EDF+ file through
// EDFlib. Every stored channel becomes one signal of digital samples exactly
// as stored, with the physical range its amplifier gain gives; every event
// becomes an annotation with its display text. The file stays continuous
// (EDF+C): holes are written as zero samples with annotations at their ends,
// so every sample and event keeps its offset from the start.
//
// Data records are one second long; a last partial second is filled with
// zeros. EDFlib keeps at most 40 characters of an annotation's text, so a
// longer text is written as several annotations at the same time.
#pragma once

#include <cstdint>
#include <vector>

#include "EegFile/export/RecordingView.h"
#include "EegFile/frame/CallBacks.h"

class CEegFile;

class CEdfExport {
public:
    // Resolves the window of `seconds` from `fromSeconds` (seconds <= 0: to the
    // end); raises CExportException for a window outside the recording or a
    // recording with a sample rate that is not a whole number.
    CEdfExport(CEegFile& file, double fromSeconds = 0.0, double seconds = 0.0);

    uint32_t GetFirstSample() const { return m_Window.first; }
    uint32_t GetSampleCount() const { return m_Window.count; }
    // One-second data records the file will hold.
    uint32_t GetRecordCount() const { return (m_Window.count + m_nRate - 1) / m_nRate; }

    // Writes the EDF+ file at path, calling progress (when given) with the data
    // records written so far after each block. A refused output or write raises
    // CExportException naming the path; the recording's read failures propagate.
    // The partial output of a failed export is removed.
    void Write(const char* path, CVoidCall1Arg<int64_t>* progress = nullptr);

private:
    void WriteHeader(int handle, const std::vector<RecordingView::StoredChannel>& channels,
                     const char* path);
    struct Annotation {
        long long onset;  // in 100 us from the window's start
        CString text;
    };
    // Every event of the window as annotations, a long text in several.
    std::vector<Annotation> GetAnnotations() const;

    CEegFile& m_File;
    uint32_t m_nRate = 0;
    RecordingView::Window m_Window;
};
