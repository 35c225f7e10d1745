// Substring replacement against its plain model on fuzzer-chosen calls:
// every mode, start and count, texts long enough for the block scans at
// every alignment, and arguments that lie in the area the result overwrites.
#include "replace_model.h"
#include "tests/fuzz_input.h"

#include <cstdlib>
#include <cstring>

namespace {

const std::u16string_view ALPHABET = u"abAB\u0438\u0306";

// Copies the arguments chosen by `in_area` into the area from its current
// offset on, each with its terminator inside the used part so that the next
// one cannot overwrite it, and points at them once all are in (the area may
// move as it grows). The result, written at that same offset, lands on top.
void place_in_area(const std::u16string* texts[3], const unit16* arguments[3], uint8_t in_area)
{
    uint32_t offsets[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (in_area & (1 << i)) {
            offsets[i] = string_offset();
            const uint32_t units = static_cast<uint32_t>(texts[i]->size()) + 1;
            std::memcpy(string_reserve(units, offsets[i]), texts[i]->c_str(), 2 * units);
        }
    }
    for (int i = 0; i < 3; ++i)
        if (in_area & (1 << i))
            arguments[i] = reinterpret_cast<const unit16*>(string_area.base + offsets[i]);
}

void check_normal_mode(const std::u16string* texts[3], uint32_t mode, int32_t start,
                       int32_t count, uint8_t in_area)
{
    const std::u16string expected =
        model_replace(*texts[0], *texts[1], *texts[2], mode, start, count);
    const unit16* arguments[3] = {texts[0]->c_str(), texts[1]->c_str(), texts[2]->c_str()};
    uint32_t saved = string_offset();
    place_in_area(texts, arguments, in_area);
    replace_text(arguments[0], arguments[1], arguments[2], mode, start, count, saved);
    if (string_offset() != saved + 2 * expected.size())
        std::abort();  // the reservation was not exact
    unit16* result = nullptr;
    string_assign(&result, saved);
    if (expected != (result ? std::u16string(result) : std::u16string()))
        std::abort();
    string_free(result);
}

void check_in_place(const std::u16string* texts[3], uint32_t mode, int32_t start, int32_t count)
{
    const std::u16string expected = model_replace(*texts[0], *texts[1], *texts[2],
                                                  mode | REPLACE_INPLACE, start, count);
    std::u16string text = *texts[0];
    uint32_t before = string_offset();
    replace_text(&text[0], texts[1]->c_str(), texts[2]->c_str(), mode | REPLACE_INPLACE, start,
                 count, before);
    if (text != expected || string_offset() != before)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = (string_area_init(), true);
    (void)started;
    FuzzInput in(data, size);
    const uint32_t mode = in.flag() ? uint32_t{REPLACE_NOCASE} : 0u;
    const uint8_t in_area = in.byte();
    const int32_t start = static_cast<int8_t>(in.byte());
    const int32_t count = static_cast<int8_t>(in.byte());
    const std::u16string text = in.units(2000, ALPHABET);
    const std::u16string search = in.units(4, ALPHABET);
    std::u16string replacement = in.units(4, ALPHABET);
    const std::u16string* texts[3] = {&text, &search, &replacement};
    check_normal_mode(texts, mode, start, count, in_area & 7);
    // In place needs equal lengths; half the cases get them.
    if (in_area & 8)
        replacement.resize(search.size(), u'x');
    check_in_place(texts, mode, start, count);
    return 0;
}
