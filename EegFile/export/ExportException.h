// CExportException: a failure of exporting or drawing a recording that is not
// the recording's own (a bad window, an output the writer refused). Carries one
// message line naming the output path.
#pragma once

#include "Platform/Exception.h"
#include "Platform/String.h"

class CExportException : public CException {
public:
    explicit CExportException(const CString& message) : m_strMessage(message) {}

protected:
    CString MessageText() const override { return m_strMessage; }

private:
    CString m_strMessage;
};
