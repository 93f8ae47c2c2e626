// libFuzzer target: a container file of arbitrary bytes is opened, every stream
// it lists is read to its end and refreshed, then each is grown, trimmed, cut and
// grown again, and the file is scanned section by section. Every failure must be
// one of the framework's exceptions; the sanitizers catch everything else.
//
// Built and run by scripts/fuzz container, never by the ordinary build.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "EegFile/container/TKCompoundFile.h"
#include "Platform/Exception.h"
#include "Platform/File.h"

namespace {

// The streams of a container, through the copy-all walk, copying none.
class Lister : public CTKStreamFilter {
public:
    int IncludeStream(const char* name, int copy) override {
        streams.emplace_back(name, copy);
        return 0;
    }
    std::vector<std::pair<std::string, int>> streams;
};

// The file every input is written to; removed when the process exits normally.
class InputFile {
public:
    InputFile() {
        const char* folder = std::getenv("FUZZ_TMPDIR");
        m_path = std::string(folder ? folder : "/tmp") + "/container-fuzz-" +
                 std::to_string(::getpid()) + ".eeg";
    }
    ~InputFile() { ::unlink(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

const std::string& InputPath() {
    static const InputFile file;
    return file.Path();
}

void WriteInput(const uint8_t* data, size_t size) {
    CFile file(InputPath().c_str(),
               CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyNone);
    if (size > 0)
        file.Write(data, static_cast<UINT>(size));
    file.Close();
}

void ReadEverything(int readOnly) {
    CTKCompoundFile f;
    f.Open(InputPath().c_str(), readOnly);
    Lister lister;
    f.CopyAllStreamsFrom(f, &lister);
    unsigned char buffer[4096];
    for (const auto& [name, copy] : lister.streams) {
        CTKStream* s = f.OpenStream(name.c_str(), copy, 0, readOnly, 0);
        if (!s)
            continue;
        while (s->Read(buffer, sizeof buffer) > 0) {
        }
        s->Refresh();
        s->Seek(s->GetLength() / 2);
        s->Read(buffer, sizeof buffer);
        if (!readOnly) {
            for (size_t i = 0; i < sizeof buffer; ++i)
                buffer[i] = static_cast<unsigned char>(i);
            s->Seek(s->GetLength());
            s->Write(buffer, 3000);
            s->Trim(0);
            s->Write(buffer, 100);
            s->Truncate();
            s->Write(buffer, 700);
        }
        f.CloseStream(s);
    }
    f.ComputeAllStreamsDiskSpace(0, 0, nullptr);
    f.Close();
}

template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (CException* e) {
        e->Delete();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Guarded([&] { WriteInput(data, size); });
    Guarded([] { ReadEverything(1); });
    Guarded([] {
        CTKCompoundFile scan;
        if (CTKStream* s = scan.OpenStreamByScan(InputPath().c_str(), "A", 1, 0, 1, 0, nullptr)) {
            unsigned char buffer[4096];
            while (s->Read(buffer, sizeof buffer) > 0) {
            }
        }
    });
    // Writing changes the file: done last, on the same input.
    Guarded([] { ReadEverything(0); });
    return 0;
}
