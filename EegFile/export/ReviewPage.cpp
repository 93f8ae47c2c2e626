#include "EegFile/export/ReviewPage.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "EegFile/events/MontageEvent.h"
#include "EegFile/events/RangeEndEvent.h"
#include "EegFile/export/ExportException.h"

namespace {

constexpr double kPixelsPerMm = 96.0 / 25.4;  // a screen of 96 dots per inch
constexpr double kPrerollSeconds = 2.0;       // lets the filters settle before the page
constexpr uint32_t kMaxPageSeconds = 3600;
constexpr double kPi = 3.14159265358979323846;

CString Lower(const char* s) {
    CString out(s);
    for (int i = 0; i < out.GetLength(); ++i)
        if (out[i] >= 'A' && out[i] <= 'Z')
            out.SetAt(i, static_cast<char>(out[i] - 'A' + 'a'));
    return out;
}

[[noreturn]] void Fail(const char* path, const char* what) {
    CString text;
    text.Format("Review page %s: %s.", path, what);
    throw new CExportException(text);
}

// "hh:mm:ss" of a wall-clock time; the page's elapsed seconds when the
// recording has no start time.
CString ClockText(const CTKTime& t, double elapsed) {
    CString text;
    if (t.IsNull())
        text.Format("%.0f s", elapsed);
    else
        text.Format("%02u:%02u:%02u", t.m_wHour, t.m_wMinute, t.m_wSecond);
    return text;
}

CString HzText(double hz) {
    CString text;
    text.Format(hz < 1 ? "%.2g" : "%.3g", hz);
    return text;
}

// Cairo's own PNG writer compresses hard and takes most of a page's time;
// line drawings on white compress well at the fastest setting too.
bool WritePng(cairo_surface_t* surface, const char* path) {
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        unsigned char* out = &rgb[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x, out += 3) {
            out[0] = static_cast<unsigned char>(row[x] >> 16);
            out[1] = static_cast<unsigned char>(row[x] >> 8);
            out[2] = static_cast<unsigned char>(row[x]);
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    image.flags = PNG_IMAGE_FLAG_FAST;
    FILE* file = std::fopen(path, "wbe");  // "e": close on exec
    if (!file)
        return false;
    const bool written = png_image_write_to_stdio(&image, file, 0, rgb.data(), width * 3, nullptr);
    png_image_free(&image);
    return std::fclose(file) == 0 && written;
}

}  // namespace

CReviewPage::CReviewPage(CEegFile& file, const Options& options) : m_File(file) {
    m_Window = RecordingView::ResolveWindow(file, options.fromSeconds, options.seconds);
    m_nRate = static_cast<uint32_t>(file.GetSampleRate());
    // The page is read whole: keep it to what a reviewer could look at.
    if (m_Window.count / m_nRate > kMaxPageSeconds) {
        CString text;
        text.Format("A page shows at most %u seconds.", kMaxPageSeconds);
        throw new CExportException(text);
    }
    const CEegTimeStamp at(m_Window.first);

    if (!options.montage.IsEmpty()) {
        CEegEventMask onlyMontages;
        onlyMontages.SetAll(1);
        onlyMontages.SetMask(CEegEvent::etMontage, 0);
        CEegEventList list;
        file.GetEventList(list, onlyMontages, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0,
                          0);
        bool found = false;
        for (int i = list.GetSize() - 1; i >= 0 && !found; --i) {
            const CEegMontage& m = static_cast<const CMontageEvent*>(list[i])->GetMontage();
            if (m.GetName().CompareNoCase(options.montage) == 0) {
                m_Montage = m;
                found = true;
            }
        }
        if (!found) {
            CString text;
            text.Format("The recording holds no montage named \"%s\".",
                        static_cast<const char*>(options.montage));
            throw new CExportException(text);
        }
    } else {
        file.GetMontageAt(at, m_Montage);
    }

    m_Channels = RecordingView::GetStoredChannels(file.GetAmpHardwareInfo(), m_Montage);
    if (m_Montage.GetChannelCount() == 0) {
        // No montage: every stored channel against the amplifier's reference.
        m_Montage = CEegMontage("Stored channels");
        for (size_t i = 0; i < m_Channels.size(); ++i)
            m_Montage.SetTraceInfo(
                static_cast<int>(i),
                CTraceInfo(m_Channels[i].label,
                           static_cast<AmpInput::AmpInputType>(m_Channels[i].input),
                           AmpInput::NoInput));
    }

    double linkedSensitivity = 0, linkedLowCut = 0, linkedHighCut = 0;
    const bool hasSensitivity = file.GetLinkedSensitivityAt(at, linkedSensitivity) != 0;
    const bool hasLowCut = file.GetLinkedLowCutAt(at, linkedLowCut) != 0;
    const bool hasHighCut = file.GetLinkedHighCutAt(at, linkedHighCut) != 0;
    for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
        const CTraceInfo& info = m_Montage.GetTraceInfo(i);
        if (!info.HasActInput())
            continue;
        Trace t;
        t.info = info;
        const bool linked = info.GetLinkedFlag() != 0;
        t.sensitivity = linked && hasSensitivity ? linkedSensitivity : info.GetSensitivity();
        t.lowCut = linked && hasLowCut ? linkedLowCut : info.GetLowCut();
        t.highCut = linked && hasHighCut ? linkedHighCut : info.GetHighCut();
        if (!(t.sensitivity > 0) || !std::isfinite(t.sensitivity))
            t.sensitivity = CTraceInfo().GetSensitivity();
        m_Traces.push_back(t);
    }

    m_nWidth = std::clamp(options.width, 400, 20000);
    const int traces = std::max<int>(1, static_cast<int>(m_Traces.size()));
    m_nHeight = options.height > 0 ? std::clamp(options.height, 200, 20000)
                                   : kTop + kBottom + std::max(240, 40 * traces);
}

void CReviewPage::GetTraceBand(int i, int& top, int& bottom) const {
    const int n = std::max(1, GetTraceCount());
    const double lane = static_cast<double>(m_nHeight - kTop - kBottom) / n;
    top = kTop + static_cast<int>(std::lround(i * lane));
    bottom = kTop + static_cast<int>(std::lround((i + 1) * lane));
}

std::vector<double> CReviewPage::TraceValues(const Trace& t, const int16_t* frames, size_t n,
                                             uint32_t preroll) const {
    auto slotOf = [&](int input) -> const RecordingView::StoredChannel* {
        const int slot =
            CAmpHardwareInfo::GetAmpChannelIndex(static_cast<AmpInput::AmpInputType>(input));
        for (const auto& c : m_Channels)
            if (c.slot == slot)
                return &c;
        return nullptr;
    };
    const RecordingView::StoredChannel* act = slotOf(t.info.GetActInput());
    const RecordingView::StoredChannel* ref = slotOf(t.info.GetRefInput());
    const bool average = t.info.GetRefInput() == AmpInput::AvgRef;

    std::vector<double> v(n, 0.0);
    for (size_t s = 0; s < n; ++s) {
        const int16_t* f = &frames[s * 32];
        double x = act ? f[act->slot] * act->gain : 0.0;
        if (ref)
            x -= f[ref->slot] * ref->gain;
        else if (average && !m_Channels.empty()) {
            double sum = 0;
            for (const auto& c : m_Channels)
                sum += f[c.slot] * c.gain;
            x -= sum / static_cast<double>(m_Channels.size());
        }
        v[s] = x;
    }
    // One-pole filters, as a paper recorder's: the low cut a high pass, the
    // high cut (0: off) a low pass, both run through the preroll first.
    const double dt = 1.0 / m_nRate;
    if (t.lowCut > 0) {
        const double rc = 1.0 / (2 * kPi * t.lowCut), a = rc / (rc + dt);
        double prevX = n ? v[0] : 0, prevY = 0;
        for (double& x : v) {
            const double y = a * (prevY + x - prevX);
            prevX = x;
            x = prevY = y;
        }
    }
    if (t.highCut > 0 && t.highCut < m_nRate / 2.0) {
        const double rc = 1.0 / (2 * kPi * t.highCut), b = dt / (rc + dt);
        double y = n ? v[0] : 0;
        for (double& x : v)
            x = y += b * (x - y);
    }
    v.erase(v.begin(), v.begin() + std::min<size_t>(preroll, n));
    return v;
}

void CReviewPage::Draw(void* context) {
    cairo_t* cr = static_cast<cairo_t*>(context);
    const uint32_t first = m_Window.first, count = m_Window.count;
    const double left = kLeft, right = m_nWidth - kRight;
    const double top = kTop, bottom = m_nHeight - kBottom;
    auto xOf = [&](double offset) { return left + (offset - first) * (right - left) / count; };

    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    // Holes (no data) grey, segments marked for cutting or keeping tinted.
    for (const auto& h : RecordingView::GetHoles(m_File, first, first + count)) {
        const double x0 = xOf(std::max(h.start, first)), x1 = xOf(std::min(h.end, first + count));
        cairo_set_source_rgb(cr, 0.82, 0.82, 0.82);
        cairo_rectangle(cr, x0, top, x1 - x0, bottom - top);
        cairo_fill(cr);
    }
    CEegEventList segments;
    m_File.GetMarkedSegmentList(segments, CEegTimeStamp(first), CEegTimeStamp(first + count), 0);
    for (int i = 0; i < segments.GetSize(); ++i) {
        const auto* s = static_cast<const CRangeEndEvent*>(segments[i]);
        const double a = std::max<double>(s->GetStartTimeStamp().GetSampleOffset(), first);
        const double b = std::min<double>(s->GetEndTimeStamp().GetSampleOffset(), first + count);
        if (b <= a)
            continue;
        cairo_set_source_rgba(cr, 1.0, 0.55, 0.35, 0.3);
        cairo_rectangle(cr, xOf(a), top, xOf(b) - xOf(a), bottom - top);
        cairo_fill(cr);
    }

    // Time axis: a tick and the wall-clock time at every whole second.
    int micro = 0;
    RecordingView::TimeOfDayAt(m_File, first, micro);
    const uint32_t firstTick =
        first +
        (micro ? static_cast<uint32_t>(m_nRate - static_cast<uint64_t>(micro) * m_nRate / 1000000)
               : 0);
    const double pixelsPerSecond = (right - left) * m_nRate / count;
    const uint32_t labelEvery =
        static_cast<uint32_t>(std::max(1.0, std::ceil(80.0 / pixelsPerSecond)));
    const uint32_t tickEvery = pixelsPerSecond >= 4 ? 1 : labelEvery;
    cairo_set_font_size(cr, 12);
    cairo_set_line_width(cr, 1);
    for (uint32_t k = 0; firstTick + static_cast<uint64_t>(k) * m_nRate < first + count;
         k += tickEvery) {
        const uint32_t o = firstTick + k * m_nRate;
        const double x = std::floor(xOf(o)) + 0.5;
        cairo_set_source_rgb(cr, 0.88, 0.88, 0.92);
        cairo_move_to(cr, x, top);
        cairo_line_to(cr, x, bottom);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        cairo_move_to(cr, x, bottom);
        cairo_line_to(cr, x, bottom + 6);
        cairo_stroke(cr);
        if (k % labelEvery == 0) {
            int unused = 0;
            const CString text = ClockText(RecordingView::TimeOfDayAt(m_File, o, unused),
                                           static_cast<double>(o) / m_nRate);
            cairo_text_extents_t ext;
            cairo_text_extents(cr, text, &ext);
            cairo_move_to(cr, x - ext.width / 2, bottom + 20);
            cairo_show_text(cr, text);
        }
    }

    // Traces: read the page with a preroll for the filters, holes as zeros.
    const uint32_t preroll =
        std::min<uint32_t>(first, static_cast<uint32_t>(kPrerollSeconds * m_nRate));
    const uint32_t total = preroll + count;
    CEegDataChunk chunk(static_cast<int>(total), 32);
    m_File.ReadEegDataAt(CEegTimeStamp(first - preroll), chunk, total);
    const uint32_t got = std::min(chunk.GetNumberOfSamples(), total);
    int16_t* frames = chunk.GetData();
    std::fill(frames + static_cast<size_t>(got) * 32, frames + static_cast<size_t>(total) * 32,
              int16_t{0});
    for (const auto& h : RecordingView::GetHoles(m_File, first - preroll, first + count)) {
        const uint32_t a = std::max(h.start, first - preroll) - (first - preroll);
        const uint32_t b = std::min(h.end, first + count) - (first - preroll);
        std::fill(frames + static_cast<size_t>(a) * 32, frames + static_cast<size_t>(b) * 32,
                  int16_t{0});
    }

    const int columns = static_cast<int>(right - left);
    for (int i = 0; i < GetTraceCount(); ++i) {
        const Trace& t = m_Traces[static_cast<size_t>(i)];
        int bandTop = 0, bandBottom = 0;
        GetTraceBand(i, bandTop, bandBottom);
        const double mid = (bandTop + bandBottom) / 2.0;
        const double scale = kPixelsPerMm / t.sensitivity;  // pixels per microvolt

        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_set_font_size(cr, 12);
        cairo_move_to(cr, 8, mid - 1);
        cairo_show_text(cr, t.info.GetLabel());
        CString detail;
        detail.Format("%g uV/mm  %s-%s Hz", t.sensitivity,
                      static_cast<const char*>(HzText(t.lowCut)),
                      t.highCut > 0 ? static_cast<const char*>(HzText(t.highCut)) : "off");
        cairo_set_font_size(cr, 9);
        cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
        cairo_move_to(cr, 8, mid + 10);
        cairo_show_text(cr, detail);

        const std::vector<double> v = TraceValues(t, frames, total, preroll);
        cairo_save(cr);
        cairo_rectangle(cr, left, top, right - left, bottom - top);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 0.05, 0.1, 0.45);
        cairo_set_line_width(cr, 0.8);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_FAST);
        if (v.size() <= static_cast<size_t>(columns) * 2) {
            for (size_t s = 0; s < v.size(); ++s) {
                const double x = xOf(first + static_cast<double>(s)), y = mid - v[s] * scale;
                s ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
            }
        } else {
            // Long pages: the range of each pixel column.
            for (int c = 0; c < columns; ++c) {
                const size_t a = v.size() * static_cast<size_t>(c) / static_cast<size_t>(columns);
                const size_t b = std::max(
                    a + 1, v.size() * static_cast<size_t>(c + 1) / static_cast<size_t>(columns));
                const auto [lo, hi] = std::minmax_element(v.begin() + static_cast<ptrdiff_t>(a),
                                                          v.begin() + static_cast<ptrdiff_t>(b));
                cairo_move_to(cr, left + c + 0.5, mid - *hi * scale);
                cairo_line_to(cr, left + c + 0.5, mid - *lo * scale + 0.5);
            }
        }
        cairo_stroke(cr);
        cairo_restore(cr);
    }

    // Events: a line at the position and the text above the traces, on three
    // rows so that neighbours overlap less.
    CEegEventList events;
    RecordingView::GetEvents(m_File, first, first + count - 1, events);
    cairo_set_font_size(cr, 10);
    for (int i = 0; i < events.GetSize(); ++i) {
        const CEegEvent& e = *events[i];
        const double x = std::floor(xOf(e.GetTimeStamp().GetSampleOffset())) + 0.5;
        cairo_set_source_rgba(cr, 0.75, 0.1, 0.1, 0.8);
        cairo_set_line_width(cr, 1);
        cairo_move_to(cr, x, top - 4 - 12 * (i % 3));
        cairo_line_to(cr, x, bottom);
        cairo_stroke(cr);
        cairo_move_to(cr, x + 2, top - 6 - 12 * (i % 3));
        cairo_show_text(cr, RecordingView::EventText(e));
    }

    // Title: montage, start and length of the page.
    int microStart = 0;
    const CTKTime start = RecordingView::TimeOfDayAt(m_File, first, microStart);
    CString title;
    title.Format("%s   %s   %.3g s", static_cast<const char*>(m_Montage.GetName()),
                 static_cast<const char*>(ClockText(start, static_cast<double>(first) / m_nRate)),
                 static_cast<double>(count) / m_nRate);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_font_size(cr, 13);
    cairo_move_to(cr, 8, 18);
    cairo_show_text(cr, title);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, left + 0.5, top + 0.5, right - left - 1, bottom - top - 1);
    cairo_stroke(cr);
}

void CReviewPage::Write(const char* path) {
    const char* dot = std::strrchr(path, '.');
    const CString ext = Lower(dot ? dot : "");
    if (ext != ".png" && ext != ".svg" && ext != ".pdf")
        Fail(path, "the name must end in .png, .svg or .pdf");
    const CString temporary = CString(path) + ".tmp";
    cairo_surface_t* surface =
        ext == ".png"   ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, m_nWidth, m_nHeight)
        : ext == ".svg" ? cairo_svg_surface_create(temporary, m_nWidth, m_nHeight)
                        : cairo_pdf_surface_create(temporary, m_nWidth, m_nHeight);
    cairo_t* cr = cairo_create(surface);
    cairo_status_t status = cairo_surface_status(surface);
    try {
        if (status == CAIRO_STATUS_SUCCESS) {
            Draw(cr);
            status = cairo_status(cr);
        }
    } catch (CException*) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        std::remove(temporary);
        throw;
    }
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS) {
        if (ext == ".png" && !WritePng(surface, temporary))
            status = CAIRO_STATUS_WRITE_ERROR;
        cairo_surface_finish(surface);
        if (status == CAIRO_STATUS_SUCCESS)
            status = cairo_surface_status(surface);
    }
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::remove(temporary);
        Fail(path, cairo_status_to_string(status));
    }
    RecordingView::CommitOutput(temporary, path);
}
