// CReviewPage: one page of a recording as a reviewer sees it, drawn with
// Cairo into a PNG, SVG or PDF file (chosen by the output's extension): the
// traces of a montage with their labels, each at the sensitivity and through
// the filters in force at the page's start, a time axis in wall-clock time,
// the events with their text, holes and marked segments shaded.
#pragma once

#include <cstdint>
#include <vector>

#include "EegBase/EegMontage.h"
#include "EegFile/export/RecordingView.h"
#include "Platform/String.h"

class CEegFile;

class CReviewPage {
public:
    struct Options {
        double fromSeconds = 0.0;
        double seconds = 10.0;  // <= 0: to the end of the recording
        // The last montage of that name (any case) among the recording's
        // montage events; empty: the montage in force at the page's start.
        CString montage;
        int width = 1600;  // pixels (points for SVG and PDF)
        int height = 0;    // 0: from the number of traces
    };

    // Resolves the window and the montage; raises CExportException for a
    // window outside the recording, a page over an hour long, or a montage the recording does not
    // hold.
    CReviewPage(CEegFile& file, const Options& options);

    const CEegMontage& GetMontage() const { return m_Montage; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    // The pixel rows [top, bottom) of trace number i (in drawing order).
    void GetTraceBand(int i, int& top, int& bottom) const;
    int GetTraceCount() const { return static_cast<int>(m_Traces.size()); }
    // The pixel columns [left, right) of the traces' area.
    int GetPlotLeft() const { return kLeft; }
    int GetPlotRight() const { return m_nWidth - kRight; }

    // Draws the page into path (".png", ".svg" or ".pdf", any case); a failure
    // of Cairo or of the file raises CExportException naming the path.
    void Write(const char* path);

private:
    static constexpr int kLeft = 170, kRight = 12, kTop = 56, kBottom = 44;

    struct Trace {
        CTraceInfo info;
        double sensitivity = 0, lowCut = 0, highCut = 0;
    };

    void Draw(void* cairo);
    // The trace's values in microvolts over the window, filtered.
    std::vector<double> TraceValues(const Trace& t, const int16_t* frames, size_t n,
                                    uint32_t preroll) const;

    CEegFile& m_File;
    RecordingView::Window m_Window;
    uint32_t m_nRate = 0;
    CEegMontage m_Montage;
    std::vector<RecordingView::StoredChannel> m_Channels;
    std::vector<Trace> m_Traces;
    int m_nWidth = 0, m_nHeight = 0;
};
