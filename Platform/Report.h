// Where the library shows a message box or reports a caught exception. The host
// replaces either callback; the defaults write one line to stderr.
#pragma once

#include <functional>

#include "Platform/Types.h"

class CException;

using MessageBoxCallback = std::function<void(const char* text)>;
using ExceptionReportCallback =
    std::function<void(CException* e, const char* operation, const char* sourceFile, int line)>;

// Installs a callback; an empty function restores the default. Returns the previous one.
MessageBoxCallback SetMessageBoxCallback(MessageBoxCallback callback);
ExceptionReportCallback SetExceptionReportCallback(ExceptionReportCallback callback);

// Shows text the way the original showed a message box.
int AfxMessageBox(const char* text);

// Reports an exception that the library caught and will not pass on. Does not free it.
void ReportException(CException* e, const char* operation, const char* sourceFile, int line);
