// The page's door to glyphmend-cli's engine, built for wasm32. The page
// hands in a whole text or file as bytes; the engine repairs it in pieces,
// as the CLI does, and leaves the repaired bytes and one record per repair
// in this module's memory for the page to read. Only one repair at a time
// exists, so its results live in globals the page reads through exports.
#include "letters/repairs.h"
#include "letters/names.h"
#include "stream/stream.h"

#include <cstring>
#include <vector>

// Exported to the page under its own name; natively (the benchmark's
// baseline) a plain C function.
#if defined(__wasm__)
#define EXPORT(name) __attribute__((export_name(#name))) name
#else
#define EXPORT(name) name
#endif

namespace {

// What a repair was, for the page's summary line.
enum Kind : uint32_t { decomposed, greek_capital, latin_letter, latin_in_word, greek_in_word };

// One repair as the page reads it: six 32-bit numbers.
struct Record {
    uint32_t line;    // from 1, as the CLI counts
    uint32_t column;  // UTF-16 units from 1 within the line, as read
    uint32_t from;    // the look-alike's letter
    uint32_t mark;    // 0, or the combining mark read with it
    uint32_t to;      // the Cyrillic letter it became
    uint32_t kind;
};

bool is_greek(char32_t code) { return code >= 0x370 && code <= 0x3FF; }

class Recorder : public FindingSink {
public:
    void found(const Finding& finding) override
    {
        const LetterFix& fix = repairs[finding.row];
        char32_t from = fix.search[0], mark = fix.search[1];
        Kind kind = mark ? decomposed : is_greek(from) ? greek_capital : latin_letter;
        add({line(finding.at.line), line(finding.at.utf16_column), from, mark, fix.replacement[0], kind});
    }
    void found_twin(const TwinFinding& twin) override
    {
        Kind kind = is_greek(twin.twin) ? greek_in_word : latin_in_word;
        add({line(twin.at.line), line(twin.at.utf16_column), twin.twin, twin.mark, twin.letter, kind});
    }

    std::vector<Record> records;

private:
    // A text that fits this memory has fewer than 2^32 lines and columns.
    static uint32_t line(uint64_t number) { return static_cast<uint32_t>(number); }
    void add(const Record& record) { records.push_back(record); }
};

std::vector<uint8_t> input;
std::vector<uint8_t> repaired;
Recorder recorder;
bool was_changed = false;

}  // namespace

extern "C" {

// Room for `size` bytes of input, valid until the next call.
uint8_t* EXPORT(input_area)(size_t size)
{
    input.resize(size);
    return input.data();
}

// Repairs the input as glyphmend-cli does, with the word rule when `words`;
// with `report`, records every repair. Returns the repaired size.
size_t EXPORT(repair)(size_t size, int words, int report)
{
    recorder.records.clear();
    repaired.clear();
    repaired.reserve(size);
    RepairStream stream(report ? &recorder : nullptr, words != 0);
    for (size_t at = 0;;) {
        size_t piece = size - at < RepairStream::piece_size ? size - at : RepairStream::piece_size;
        std::memcpy(stream.input_area(), input.data() + at, piece);
        at += piece;
        ByteSpan final = stream.repair(piece, at == size);
        repaired.insert(repaired.end(), final.data, final.data + final.size);
        if (at == size)
            break;
    }
    was_changed = stream.changed();
    return repaired.size();
}

// Whether the input is binary as glyphmend-cli judges a whole file.
int EXPORT(binary)(size_t size)
{
    return is_binary(input.data(), size);
}

// The repaired bytes, valid until the next repair.
const uint8_t* EXPORT(output)() { return repaired.data(); }

int EXPORT(changed)() { return was_changed; }

size_t EXPORT(record_count)()
{
    return recorder.records.size();
}

// The records, six numbers each, valid until the next repair.
const Record* EXPORT(records)()
{
    return recorder.records.data();
}

// The Unicode name of a letter a record names, or null.
const char* EXPORT(name)(uint32_t code)
{
    return character_name(code);
}
}
