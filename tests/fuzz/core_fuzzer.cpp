// The core against the models of tests/model_comparison.h on choices read from the fuzzer's
// input, searched by coverage rather than at random, under the sanitizers.
#include <cstdio>
#include <cstdlib>

#include "tests/model_comparison.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    ResetCore();
    Choices input{data, size};
    std::size_t cutReads = 0;
    const std::string disagreement = CompareWithModels(input, cutReads);
    if (!disagreement.empty()) {
        std::fprintf(stderr, "the core and the models differ at %s\n", disagreement.c_str());
        std::abort();
    }
    return 0;
}
