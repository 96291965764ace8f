// The core against the models of tests/model_comparison.h on choices read from the fuzzer's
// input: program files, typed lines, "open", restarts, silences and device bytes read whole or
// in pieces, searched by coverage rather than at random, under the sanitizers.
#include <cstdio>
#include <cstdlib>

#include "tests/model_comparison.h"

namespace {

// The input as a sequence of choices; past its end every choice is the lowest.
struct FuzzInput {
    const unsigned char* data;
    std::size_t size, at = 0;

    bool Done() const { return at >= size; }
    // A number from low to high, from as many bytes as the range needs.
    std::size_t Pick(std::size_t low, std::size_t high) {
        std::size_t value = 0;
        for (std::size_t span = high - low; span > 0; span >>= 8) {
            value = value << 8 | (at < size ? data[at++] : 0u);
        }
        return low + value % (high - low + 1);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    ResetCore();
    FuzzInput input{data, size};
    std::size_t cutReads = 0;
    const std::string disagreement = CompareWithModels(input, cutReads);
    if (!disagreement.empty()) {
        std::fprintf(stderr, "the core and the models differ at %s\n", disagreement.c_str());
        std::abort();
    }
    return 0;
}
