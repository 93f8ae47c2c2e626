#include "Platform/Report.h"

#include <cstdio>
#include <mutex>

#include "Platform/Exception.h"

namespace {
std::mutex g_mutex;
MessageBoxCallback g_messageBox;
ExceptionReportCallback g_exceptionReport;
}  // namespace

MessageBoxCallback SetMessageBoxCallback(MessageBoxCallback callback) {
    std::lock_guard lock(g_mutex);
    std::swap(g_messageBox, callback);
    return callback;
}

ExceptionReportCallback SetExceptionReportCallback(ExceptionReportCallback callback) {
    std::lock_guard lock(g_mutex);
    std::swap(g_exceptionReport, callback);
    return callback;
}

int AfxMessageBox(const char* text) {
    MessageBoxCallback cb;
    {
        std::lock_guard lock(g_mutex);
        cb = g_messageBox;
    }
    if (cb) {
        cb(text ? text : "");
    } else {
        std::fprintf(stderr, "EegFile: %s\n", text ? text : "");
    }
    return 1;
}

void ReportException(CException* e, const char* operation, const char* sourceFile, int line) {
    ExceptionReportCallback cb;
    {
        std::lock_guard lock(g_mutex);
        cb = g_exceptionReport;
    }
    if (cb) {
        cb(e, operation, sourceFile, line);
        return;
    }
    CString text = e ? e->GetErrorText() : CString("unknown exception");
    std::fprintf(stderr, "EegFile: %s failed (%s:%d): %s\n", operation ? operation : "?",
                 sourceFile ? sourceFile : "?", line, text.GetString());
}
