// Writes the small container files of the fuzz target's seed corpus into the
// folder given as argument. Built and run by scripts/fuzz container --seeds.

#include <cstdio>
#include <string>

#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKTimeAnnotationObserver.h"
#include "Platform/Exception.h"

namespace {
void Fill(CTKStream* s, int n, int seed) {
    for (int i = 0; i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(i * 7 + seed);
        s->Write(&b, 1);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    try {
        {
            CTKCompoundFile f;
            f.Create((folder + "/empty.eeg").c_str());
        }
        {
            // Several streams over small sections, a cut and regrown one, an open-ended one.
            CTKCompoundFile f;
            f.Create((folder + "/streams.eeg").c_str());
            CTKStream* a = f.CreateStream("A", 1, 0, 100);
            Fill(a, 1000, 1);
            CTKStream* b = f.CreateStream("B", 2, 0, 100);
            Fill(b, 900, 2);
            b->Truncate();
            Fill(b, 300, 3);
            f.CloseStream(a);
            f.CloseStream(b);
            CTKStream* c = f.CreateStream("C", 1, 1, 0);
            Fill(c, 600, 4);
        }
        {
            // A trim inside the file, its spare reused; annotated sections.
            CTKCompoundFile f;
            f.Create((folder + "/trimmed.eeg").c_str());
            CTKTimeAnnotationObserver observer(50);
            observer.SetUpPiece(0, 0, 45000.5, 0, 1);
            CTKStream* a = f.CreateStream("A", 1, 0, 1000, &observer);
            Fill(a, 300, 5);
            CTKStream* e = f.CreateStream("EventList", 1, 0, 100);
            Fill(e, 50, 6);
            a->Trim(0);
            Fill(a, 900, 7);
        }
        {
            // A directory over two sections.
            CTKCompoundFile f;
            f.Create((folder + "/directory.eeg").c_str());
            for (int i = 0; i < 28; ++i) {
                CTKStream* s = f.CreateStream(("S" + std::to_string(i)).c_str(), 1 + i % 2, 0, 100);
                Fill(s, i * 3, i);
                f.CloseStream(s);
            }
        }
    } catch (CException* e) {
        std::fprintf(stderr, "%s\n", e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    return 0;
}
