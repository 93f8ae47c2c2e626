#include "EegBase/ReportExceptionOperation.h"

#include <string>
#include <vector>

#include "BaseTestSupport.h"
#include "Platform/Report.h"

namespace {

// Installs recording callbacks for the life of the object.
class ReportCapture {
public:
    struct Report {
        CException* e;
        std::string operation, file;
        int line;
    };
    ReportCapture() {
        m_prevReport = SetExceptionReportCallback(
            [this](CException* e, const char* op, const char* file, int line) {
                m_reports.push_back({e, op ? op : "", file ? file : "", line});
            });
        m_prevBox = SetMessageBoxCallback([this](const char* text) { m_boxes.push_back(text); });
    }
    ~ReportCapture() {
        SetExceptionReportCallback(m_prevReport);
        SetMessageBoxCallback(m_prevBox);
    }
    std::vector<Report> m_reports;
    std::vector<std::string> m_boxes;

private:
    ExceptionReportCallback m_prevReport;
    MessageBoxCallback m_prevBox;
};

}  // namespace

TEST(ReportExceptionOperation, ReportsThroughTheHostAndLeavesTheExceptionToTheCaller) {
    ReportCapture capture;
    try {
        AfxThrowArchiveException(CArchiveException::badSchema, "/data/rec.eeg");
    } catch (CException* e) {
        TKReportExceptionOperation(e, "Close EEG File", "WinEegFile", 567, 0);
        ASSERT_EQ(capture.m_reports.size(), 1u);
        EXPECT_EQ(capture.m_reports[0].e, e);
        EXPECT_EQ(capture.m_reports[0].operation, "Close EEG File");
        EXPECT_EQ(capture.m_reports[0].file, "WinEegFile");
        EXPECT_EQ(capture.m_reports[0].line, 567);
        EXPECT_TRUE(capture.m_boxes.empty());

        // With the flag the user sees it too; the exception is still alive to be read.
        TKReportExceptionOperation(e, "Sync Data Marks", "DosEegFile", 3400, 1);
        ASSERT_EQ(capture.m_boxes.size(), 1u);
        const std::string text = capture.m_boxes[0];
        EXPECT_EQ(text.rfind("Sync Data Marks failed: ", 0), 0u) << text;
        EXPECT_NE(text.find(e->GetErrorText().GetString()), std::string::npos) << text;
        e->Delete();  // a report that had freed it would make this a double free
    }

    TKReportExceptionOperation(nullptr, "Remove Data Mark", "WinEegFile", 3867, 1);
    ASSERT_EQ(capture.m_reports.size(), 3u);
    EXPECT_EQ(capture.m_reports[2].e, nullptr);
    EXPECT_EQ(capture.m_boxes.size(), 2u);
}
