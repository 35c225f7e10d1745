// The streaming repair behind glyphmend-cli: the letter table's repairs
// applied to a text that arrives in pieces of any size, in constant memory.
// Text is UTF-8 (with or without its BOM), or UTF-16LE or UTF-16BE when it
// starts with their BOM. Bytes that are not valid in the encoding pass
// through unchanged and match nothing; the only bytes that ever change are
// the look-alikes themselves, and a look-alike cut between two pieces is
// repaired as if it were whole. Portable C++: no system calls, no runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

enum class TextEncoding { utf8, utf16le, utf16be };

// Where a look-alike starts in the text as it was read. Columns count from 1
// within the line, each in its own unit, since editors disagree on the
// unit; a BOM counts in none of them, and a byte that is not valid in the
// encoding counts one in each.
struct TextPosition {
    uint64_t line;          // from 1; a line ends at LF
    uint64_t column;        // code points; a CR counts one
    uint64_t utf16_column;  // UTF-16 code units
    uint64_t byte_column;   // bytes, in the text's own encoding
    uint64_t byte_offset;   // bytes from the start of the text, from 0, its BOM included
};

// One look-alike of the letter table.
struct Finding {
    TextPosition at;
    int row;  // its row in repairs (letters/repairs.h)
};

// With the word rule: one twin in a word that changes.
struct TwinFinding {
    TextPosition at;
    char32_t twin;       // the Latin or Greek letter
    char32_t mark;       // 0, or the mark that makes one letter with it
                         // (e + U+0308 becomes ё)
    char32_t letter;     // the Cyrillic letter it becomes
    const char* word;    // the word as it was read, in UTF-8; valid during
    size_t word_size;    // the call only
};

// Told of every look-alike, in text order: the letter table's and the
// twins interleaved by where they were read.
class FindingSink {
public:
    virtual void found(const Finding& finding) = 0;
    virtual void found_twin(const TwinFinding& finding) = 0;

protected:
    ~FindingSink() = default;
};

// Binary input, told as grep tells it: it holds a NUL byte and does not
// start with a UTF-16 byte order mark. Pass the first piece to decide as a
// filter does, or the whole input.
bool is_binary(const uint8_t* bytes, size_t size);

// The same rule over an input that arrives in pieces of any size, a byte
// order mark cut between two pieces included.
class BinaryWatch {
public:
    void see(const uint8_t* bytes, size_t size);
    // Whether what was seen so far makes the input binary.
    bool binary() const;

private:
    bool starts_utf16() const;

    uint8_t start_[2] = {};
    size_t started_ = 0;  // how many of the first two bytes start_ holds
    bool nul_ = false;
};

// The widest vectors the scans may take where the processor has them: 16
// bytes, which every processor of the build's kind has, 32, or 64 (the
// default), so that tests check each on one machine. Call while no stream
// repairs.
enum class VectorWidth { narrow, wide, widest };
void allow_vectors(VectorWidth widest);

// The encoding that a text's first bytes (all of it, or at least three)
// announce, and the size of its byte order mark.
TextEncoding announced_encoding(const uint8_t* start, size_t size, size_t& bom);

class WordStage;

struct ByteSpan {
    const uint8_t* data;
    size_t size;
};

class RepairStream {
public:
    // The most bytes one piece may hold. glyphmend-cli reads and writes a
    // piece per call: 256 KiB took 3-9 % less time file to file than 128 KiB
    // (64 KiB and 512 KiB were slower).
    static constexpr size_t piece_size = 256 * 1024;

    // With the word rule, a run of letters longer than this many bytes
    // passes through unchanged, so that memory stays bounded.
    static constexpr size_t longest_word = 64 * 1024;

    // With a sink, every look-alike is also reported; the repair runs either
    // way. The sink must outlive the stream. With `words`, the word rule
    // follows the letter table's repairs; a shorter word limit is for tests.
    explicit RepairStream(FindingSink* sink = nullptr, bool words = false,
                          size_t word_limit = longest_word);
    // The same in `room`, room_size() bytes that the caller gives and keeps
    // until the stream goes, so that it decides how the system backs the
    // memory a piece is read into (null: the stream makes its own).
    RepairStream(FindingSink* sink, bool words, uint8_t* room);
    static size_t room_size(size_t word_limit = longest_word);
    ~RepairStream();
    RepairStream(const RepairStream&) = delete;
    RepairStream& operator=(const RepairStream&) = delete;

    // Where the next piece goes: room for piece_size bytes.
    uint8_t* input_area();
    // Repairs the `size` bytes just put into input_area; `last` says no more
    // input follows (size may then be 0). Returns the bytes that are now
    // final, valid until the next input_area call. Up to three bytes that
    // may begin a look-alike wait for the next piece, and with the word rule
    // a word that may go on.
    ByteSpan repair(size_t size, bool last);

    // Takes up a text of `encoding` right after a line end that another
    // stream repaired: no byte order mark is looked for. A line end leaves
    // nothing that the plain repair (no word rule, no sink) of the lines
    // after it depends on, so streams may share a text line by line. Call
    // before the first piece.
    void continue_text(TextEncoding encoding);

    // Whether anything was repaired so far.
    bool changed() const;
    // With a sink: the line, from 1, that the final bytes so far end on.
    uint64_t line() const;
    // The text's encoding, as its first bytes tell it.
    TextEncoding encoding() const { return encoding_; }

private:
    RepairStream(FindingSink* sink, bool words, size_t word_limit, uint8_t* room);
    bool settle_encoding(size_t size, bool last);
    size_t repair_utf8(size_t end, bool last);
    template <bool big_endian>
    size_t repair_utf16(size_t end, bool last);
    template <bool big_endian>
    size_t move_dense(size_t at, size_t stop);
    bool move_dense_bytes(size_t stop);
    void take_fix(size_t start, size_t end, int row, const uint8_t* replacement);
    void take_rest(size_t end);
    uint8_t* text() { return buffer_ + front_; }

    std::unique_ptr<WordStage> words_;  // Greek capitals, and the word rule
    size_t front_;                      // room for the words that wait
    std::unique_ptr<uint8_t[]> own_room_;
    uint8_t* buffer_;
    FindingSink* sink_;
    size_t held_ = 0;       // bytes carried over from the previous piece
    size_t held_from_ = 0;  // where they still lie, until input_area moves them
    size_t read_ = 0;       // scan cursor within the current piece
    size_t written_ = 0;    // end of the final bytes within the current piece
    size_t clean_ = 0;      // the final bytes before this hold none the word stage looks for
    bool encoding_known_ = false;
    bool changed_ = false;
    TextEncoding encoding_ = TextEncoding::utf8;
};
