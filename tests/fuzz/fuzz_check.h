// A property check for fuzz targets: a broken property aborts, which both libFuzzer and the corpus
// replay report as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>

inline void fuzzCheck(bool holds, std::source_location where = std::source_location::current()) {
    if (holds) return;
    std::fprintf(stderr, "property broken at %s:%u\n", where.file_name(), static_cast<unsigned>(where.line()));
    std::abort();
}
