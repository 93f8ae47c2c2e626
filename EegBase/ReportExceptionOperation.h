// TKReportExceptionOperation: how code that must go on after a failure (destructors,
// clean-up, a background writer) reports the exception it caught and will not pass on.
#pragma once

#include "Platform/Types.h"

class CException;

// Reports e through the host's exception report (Platform's ReportException) with
// the operation's name and the place it was caught. With showUser non-zero the
// message is also shown as a message box ("<operation> failed: <message>"). e is
// not freed: the caller still owns it and deletes it. e may be NULL.
void TKReportExceptionOperation(CException* e, const char* operationName, const char* sourceFile,
                                int line, int showUser);
