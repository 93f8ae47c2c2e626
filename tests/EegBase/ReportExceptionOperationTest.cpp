#include "EegBase/ReportExceptionOperation.h"

#include <string>
#include <vector>

#include "BaseTestSupport.h"
#include "Platform/Report.h"

TEST(ReportExceptionOperation, ReportsThroughTheHostAndLeavesTheExceptionToTheCaller) {
    CException* e = nullptr;
    try {
        AfxThrowArchiveException(CArchiveException::badSchema, "/data/rec.eeg");
    } catch (CException* caught) {
        e = caught;
    }
    ASSERT_NE(e, nullptr);
    std::vector<std::string> reports, boxes;
    std::vector<CException*> reported;
    const ExceptionReportCallback oldReport =
        SetExceptionReportCallback([&](CException* x, const char* op, const char* file, int line) {
            reported.push_back(x);
            reports.push_back(std::string(op) + " " + file + " " + std::to_string(line));
        });
    const MessageBoxCallback oldBox =
        SetMessageBoxCallback([&](const char* t) { boxes.push_back(t); });
    TKReportExceptionOperation(e, "Close EEG File", "WinEegFile", 567, 0);
    EXPECT_TRUE(boxes.empty());
    // With the flag the user sees it too; the exception is still alive to be read.
    TKReportExceptionOperation(e, "Sync Data Marks", "DosEegFile", 3400, 1);
    TKReportExceptionOperation(nullptr, "Remove Data Mark", "WinEegFile", 3867, 1);
    SetExceptionReportCallback(oldReport);
    SetMessageBoxCallback(oldBox);

    EXPECT_EQ(reports, (std::vector<std::string>{"Close EEG File WinEegFile 567",
                                                 "Sync Data Marks DosEegFile 3400",
                                                 "Remove Data Mark WinEegFile 3867"}));
    EXPECT_EQ(reported, (std::vector<CException*>{e, e, nullptr}));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Sync Data Marks failed: " + std::string(e->GetErrorText().GetString()));
    e->Delete();  // a report that had freed it would make this a double free
}
