// HoldExclusive PATH: a station that holds a recording exclusively (as one that
// cuts it does) until its standard input closes; prints "held" once it holds it.
#include <cstdio>

#include "EegFile/access/EegAccessControl.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    CEegAccessControl access;
    access.SetPaths(argv[1]);
    if (!access.TakeMode(CEegAccessMode::eamExclusive))
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    access.Release();
    return 0;
}
