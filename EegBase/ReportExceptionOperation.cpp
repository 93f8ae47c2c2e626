#include "EegBase/ReportExceptionOperation.h"

#include "Platform/Exception.h"
#include "Platform/Report.h"

void TKReportExceptionOperation(CException* e, const char* operationName, const char* sourceFile,
                                int line, int showUser) {
    ReportException(e, operationName, sourceFile, line);
    if (showUser) {
        CString text;
        text.Format("%s failed: %s", operationName ? operationName : "Operation",
                    e ? e->GetErrorText().GetString() : "unknown error");
        AfxMessageBox(text);
    }
}
