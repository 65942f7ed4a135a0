// What the fuzz targets share: a check that ends the run with a message when a
// property fails, so that libFuzzer keeps the input as a crash and the replay
// programs fail their test.
#ifndef NUBO_FUZZ_FUZZ_CHECK_H_
#define NUBO_FUZZ_FUZZ_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                    \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                        \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#endif  // NUBO_FUZZ_FUZZ_CHECK_H_
