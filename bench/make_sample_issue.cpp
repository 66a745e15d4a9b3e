// quillo-sample-issue PATH [PAGES]: writes the dense sample issue to PATH.
#include "bench/SampleIssue.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: quillo-sample-issue PATH [PAGES]\n", stderr);
        return 2;
    }
    const int pages = argc > 2 ? std::atoi(argv[2]) : 2;
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << quillo::sample::denseIssuePdf(pages < 1 ? 1 : pages);
    return file.good() ? 0 : 1;
}
