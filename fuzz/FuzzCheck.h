#pragma once
// The fuzz targets' assertion: a broken property is reported like a crash, so libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(Condition)                                                                                \
    do {                                                                                                     \
        if (!(Condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #Condition);            \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
