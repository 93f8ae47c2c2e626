// libFuzzer target: a current-format recording of arbitrary bytes is checked,
// samples and all. The check reads damaged files by design: every problem must
// come back as an entry of its list or as one of the framework's exceptions;
// the sanitizers catch everything else.
//
// Built and run by scripts/fuzz check (seeded from the container corpus), never
// by the ordinary build.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Exception.h"

namespace {

std::string InputPath() {
    const char* folder = std::getenv("FUZZ_TMPDIR");
    return std::string(folder ? folder : "/tmp") + "/check-fuzz-" + std::to_string(::getpid()) +
           ".eeg";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = InputPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    CEegFileProblemList problems;
    try {
        CWinEegFile::CheckFile(path.c_str(), 1, problems);
    } catch (CException* e) {
        e->Delete();
    }
    ::unlink(path.c_str());
    return 0;
}
