// The normalization pass on fuzzer-chosen texts made mostly of the letters
// the table names and their neighbours: the result is the plain model's, a
// second pass changes nothing, and the change test tells the two apart.
#include "letters_model.h"
#include "tests/fuzz_input.h"

#include <cstdlib>

namespace {

const std::u16string_view ALPHABET =
    u"\u0438\u0306\u0435\u0308\u0418\u0415\u0439\u0451\u0391\u0392\u0393\u0395\u0397\u039A"
    u"\u039B\u039C\u039F\u03A0\u03A1\u03A4\u03A7\u0394\u03B1\u0138\u1D0F\u0299\u043A\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = (string_area_init(), true);
    (void)started;
    FuzzInput in(data, size);
    // Long enough for many occurrences of every row at every alignment of the
    // scans' 16-unit blocks. Texts with more occurrences than the replacement
    // notes ahead (1024) are the replacement target's.
    const std::u16string input = in.units(512, ALPHABET);
    const std::u16string expected = model_pass(input);
    if (run_pass(input) != expected || text_changed() != (expected != input))
        std::abort();
    if (run_pass(expected) != expected || text_changed())
        std::abort();  // the pass is not idempotent
    return 0;
}
