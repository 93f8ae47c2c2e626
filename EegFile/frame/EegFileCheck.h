// What a check of a recording reports: one entry per problem found, each saying
// where it is (a stream and section, a byte offset, a log line) and what is wrong.
// A check only reads; an empty list means the recording is sound.
#pragma once

#include <vector>

#include "Platform/String.h"

struct CEegFileProblem {
    CString m_where;
    CString m_what;
};

using CEegFileProblemList = std::vector<CEegFileProblem>;
