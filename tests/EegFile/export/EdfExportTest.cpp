#include <gtest/gtest.h>

#include "EegFile/export/EdfExport.h"
#include "EegFile/export/ExportException.h"
#include "ExportTestSupport.h"
#include "TestSupport.h"

using namespace exporttest;

TEST(EdfExport, Probe) {
    testsupport::TempDir dir;
    const std::string rec = dir.File("rec.eeg");
    MakeRecording(rec);
    CWinEegFile file;
    file.Open(rec.c_str(), 0);
    CEdfExport exporter(file);
    exporter.Write("/tmp/probe.edf");
}
TEST(EdfExport, Probe2) {
    testsupport::TempDir dir;
    const std::string rec = dir.File("rec.eeg");
    MakeRecording(rec);
    CWinEegFile file;
    file.Open(rec.c_str(), 0);
    CEegDataChunk chunk(3200, 32);
    int got = file.ReadEegDataAt(CEegTimeStamp(0), chunk, 2400);
    printf("got %d len %u: %d %d %d | %d\n", got, file.GetLengthInSamples(), chunk.GetFrame(0)[0], chunk.GetFrame(1)[0], chunk.GetFrame(2)[0], Sample(1, 0, true));
}
