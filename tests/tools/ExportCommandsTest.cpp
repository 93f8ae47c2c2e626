#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ToolTestSupport.h"

using tooltest::RunTool;

namespace {

// An integer field of an EDF header.
long Field(const std::vector<unsigned char>& b, size_t at, size_t width) {
    return std::strtol(
        std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + width))
            .c_str(),
        nullptr, 10);
}

}  // namespace

TEST(EegFileTool, ExportWindowEqualsDumpAndPlotWritesPictures) {
    testsupport::TempDir dir;
    const std::string rec = dir.File("sim.eeg"), edf = dir.File("w.edf");
    ASSERT_EQ(RunTool({"simulate", rec, "--minutes", "1", "--channels", "8", "--seed", "3"}).code,
              0);
    const tooltest::Result e = RunTool({"export", rec, edf, "--from", "10", "--seconds", "20"});
    ASSERT_EQ(e.code, 0) << e.err;
    EXPECT_EQ(e.err, "");  // no progress bar when stderr is not a terminal
    const tooltest::Result d =
        RunTool({"dump", rec, "--from", "10", "--seconds", "20", "--format", "raw"});
    ASSERT_EQ(d.code, 0) << d.err;

    // The EDF's data records against the dump's frames, signal by signal.
    const auto b = testsupport::ReadBytes(edf);
    ASSERT_GT(b.size(), 256u);
    const long records = Field(b, 236, 8), signals = Field(b, 252, 4);
    EXPECT_EQ(records, 20);
    // The stored channels come first, then the annotation signals.
    size_t stored = 0;
    while (stored < static_cast<size_t>(signals) &&
           std::string(b.begin() + 256 + static_cast<long>(stored) * 16,
                       b.begin() + 256 + static_cast<long>(stored) * 16 + 15) != "EDF Annotations")
        ++stored;
    EXPECT_EQ(stored, 8u);
    ASSERT_EQ(d.out.size(), 20u * 200 * stored * 2);
    std::vector<long> perRecord(static_cast<size_t>(signals));
    long recordSamples = 0;
    for (long s = 0; s < signals; ++s)
        recordSamples += perRecord[static_cast<size_t>(s)] =
            Field(b, 256 + static_cast<size_t>(signals) * 216 + static_cast<size_t>(s) * 8, 8);
    const size_t data = 256 + static_cast<size_t>(signals) * 256;
    ASSERT_EQ(b.size(), data + static_cast<size_t>(records * recordSamples) * 2);
    int bad = 0;
    for (long r = 0; r < records; ++r)
        for (size_t s = 0; s < stored; ++s)
            for (long n = 0; n < 200; ++n) {
                const size_t at =
                    data + static_cast<size_t>(r * recordSamples + n) * 2 + s * 200 * 2;
                const size_t frame = static_cast<size_t>(r * 200 + n);
                const size_t dumped = (frame * stored + s) * 2;
                bad += b[at] != static_cast<unsigned char>(d.out[dumped]) ||
                       b[at + 1] != static_cast<unsigned char>(d.out[dumped + 1]);
            }
    EXPECT_EQ(bad, 0);

    const tooltest::Result p =
        RunTool({"plot", rec, "-o", dir.File("p.svg"), "--from", "0:30", "--seconds", "5"});
    ASSERT_EQ(p.code, 0) << p.err;
    const auto svg = testsupport::ReadBytes(dir.File("p.svg"));
    EXPECT_NE(std::string(svg.begin(), svg.end()).find("<svg"), std::string::npos);
}

TEST(EegFileTool, ExportAndPlotRefusals) {
    testsupport::TempDir dir;
    const std::string rec = dir.File("sim.eeg");
    ASSERT_EQ(RunTool({"simulate", rec, "--minutes", "1", "--channels", "4"}).code, 0);
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"export", dir.File("missing.eeg"), dir.File("o.edf")}, 1, "missing.eeg"},
        {{"export", rec, dir.File("o.edf"), "--from", "5:00"}, 1, "beyond the end"},
        {{"export", rec, dir.File("o.edf"), "--seconds", "0"}, 2, "--seconds"},
        {{"export", rec, dir.File("nowhere/o.edf")}, 1, "cannot be created"},
        {{"plot", rec, "-o", dir.File("p.gif")}, 1, ".png, .svg or .pdf"},
        {{"plot", rec, "-o", dir.File("p.png"), "--montage", "Nonesuch"}, 1, "Nonesuch"},
        {{"plot", rec}, 2, "output"},
    };
    for (const Case& c : cases) {
        const tooltest::Result r = RunTool(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args.back() << ": " << r.err;
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::ifstream(dir.File("o.edf")).good());
    EXPECT_FALSE(std::ifstream(dir.File("p.gif")).good());
}
