#include <cairo.h>
#include <gtest/gtest.h>

#include "EegFile/events/DataMarkDeleteEvent.h"
#include "EegFile/export/ExportException.h"
#include "EegFile/export/ReviewPage.h"
#include "ExportTestSupport.h"
#include "TestSupport.h"

using namespace exporttest;

// Fontconfig, under Cairo's text, keeps its caches until the process ends;
// the leak checker of sanitizer builds asks this hook what to ignore.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(cairo_surface_t* s, int x, int y) {
    const unsigned char* row =
        cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    const uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
    return {static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255),
            static_cast<int>(p & 255)};
}

// Trace ink: dark and blue-dominated (labels are grey, events red, shading light).
bool IsTraceInk(Rgb c) {
    return c.b > 60 && c.r < 120 && c.g < 140 && c.b > c.r + 30;
}

}  // namespace

TEST(ReviewPage, PngShowsEveryTraceAndShadesTheHole) {
    testsupport::TempDir dir;
    MakeRecording(dir.File("rec.eeg"), true);
    {
        CWinEegFile marking;  // seconds 8-10 marked for cutting
        marking.Open(dir.File("rec.eeg").c_str(), 0);
        CString holders;
        ASSERT_EQ(marking.GetMarkAccess(holders), 1);
        marking.AddDataMark(new CDataMarkDeleteEvent(
            CEegTimeStamp(8 * kRate), CEegTimeStamp(10 * kRate), CDataMarkDeleteEvent::mtEeg));
        marking.Close();
    }
    CWinEegFile file;
    file.Open(dir.File("rec.eeg").c_str(), 0);
    CReviewPage::Options options;
    options.fromSeconds = 2.0;  // 2-12 s: the hole [4, 6) is the page's 2nd to 4th second
    options.seconds = 10.0;
    CReviewPage page(file, options);
    // The montage in force has two traces: the referential Fz and the bipolar one.
    EXPECT_EQ(page.GetMontage().GetName(), "Test bipolar");
    ASSERT_EQ(page.GetTraceCount(), 2);
    const std::string png = dir.File("page.PNG");
    page.Write(png.c_str());

    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(s), page.GetWidth());
    EXPECT_EQ(cairo_image_surface_get_height(s), page.GetHeight());
    const int left = page.GetPlotLeft(), right = page.GetPlotRight();
    const int holeLeft = left + (right - left) * 2 / 10, holeRight = left + (right - left) * 4 / 10;
    for (int i = 0; i < page.GetTraceCount(); ++i) {
        int top = 0, bottom = 0;
        page.GetTraceBand(i, top, bottom);
        // Ink in most pixel columns outside the hole, and in few rows inside it
        // (a flat line of zeros), where the background is grey.
        int inkColumns = 0, inkRowsInHole = 0, greyInHole = 0;
        for (int x = left + 2; x < right - 2; ++x) {
            bool ink = false;
            for (int y = top; y < bottom && !ink; ++y)
                ink = IsTraceInk(PixelAt(s, x, y));
            inkColumns += ink && (x < holeLeft || x > holeRight);
        }
        for (int y = top; y < bottom; ++y) {
            const Rgb c = PixelAt(s, (3 * holeLeft + holeRight) / 4, y);  // off the grid
            inkRowsInHole += IsTraceInk(c);
            greyInHole += c.r == c.g && c.g == c.b && c.r > 180 && c.r < 230;
        }
        EXPECT_GT(inkColumns, (right - left) * 7 / 10 * 9 / 10) << "trace " << i;
        EXPECT_LE(inkRowsInHole, 3) << "trace " << i;
        EXPECT_GT(greyInHole, (bottom - top) / 2) << "trace " << i;
    }
    // The marked seconds 8-10 (the page's 6th to 8th) are tinted, above the
    // first trace's band where no ink is.
    int top = 0, bottom = 0;
    page.GetTraceBand(0, top, bottom);
    const Rgb marked = PixelAt(s, left + (right - left) * 7 / 10 + 3, top + 2);
    EXPECT_GT(marked.r, marked.g + 20) << marked.r << "," << marked.g << "," << marked.b;
    EXPECT_GT(marked.g, marked.b);
    // Outside the hole and the mark the background stays white.
    EXPECT_EQ(PixelAt(s, left + 3, page.GetHeight() / 2 + 3).r, 255);
    cairo_surface_destroy(s);
}

TEST(ReviewPage, NamedMontageFormatsAndRefusals) {
    testsupport::TempDir dir;
    MakeRecording(dir.File("rec.eeg"));
    CWinEegFile file;
    file.Open(dir.File("rec.eeg").c_str(), 0);
    CReviewPage::Options options;
    options.montage = "TEST BIPOLAR";
    CReviewPage named(file, options);
    EXPECT_EQ(named.GetTraceCount(), 2);
    named.Write(dir.File("p.svg").c_str());
    named.Write(dir.File("p.pdf").c_str());
    const auto svg = testsupport::ReadBytes(dir.File("p.svg"));
    const auto pdf = testsupport::ReadBytes(dir.File("p.pdf"));
    EXPECT_NE(std::string(svg.begin(), svg.end()).find("<svg"), std::string::npos);
    ASSERT_GT(pdf.size(), 1000u);
    EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 5), "%PDF-");

    testsupport::ExpectThrows<CExportException>(
        [&] { named.Write(dir.File("p.jpg").c_str()); },
        [](CExportException& e) { EXPECT_NE(e.GetErrorText().Find(".png"), -1); });
    testsupport::ExpectThrows<CExportException>(
        [&] { named.Write(dir.File("missing/p.png").c_str()); }, [](CExportException&) {});
    EXPECT_FALSE(std::ifstream(dir.File("p.jpg")).good());
    options.montage = "Nonesuch";
    testsupport::ExpectThrows<CExportException>(
        [&] { CReviewPage p(file, options); },
        [](CExportException& e) { EXPECT_NE(e.GetErrorText().Find("Nonesuch"), -1); });
    options.montage = "";
    options.fromSeconds = 13;
    testsupport::ExpectThrows<CExportException>([&] { CReviewPage p(file, options); },
                                                [](CExportException&) {});
}
