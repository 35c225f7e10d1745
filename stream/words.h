// The word rule behind glyphmend-cli's --words mode, applied to the text the
// letter table's pass leaves. A word is a maximal run of letters and marks;
// it changes only when it holds a Cyrillic letter and every other letter in
// it is a twin, and then each twin becomes its Cyrillic letter. The stage
// works on a piece at a time: a word cut at a piece's end waits, whole, for
// the next piece, unless it is longer than the word limit, when it passes
// through unchanged as every run of letters that long does.
#pragma once

#include "letters/alphabets.h"
#include "stream/position.h"
#include "stream/stream.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

enum class LetterKind : uint8_t { other, letter, mark };

// A code point's kind as its Unicode general category says: L, M or other.
LetterKind letter_kind(char32_t code);

// The Cyrillic letter that a Latin or Greek twin stands for in a word whose
// Cyrillic letters all belong to `alphabets`, or 0.
char32_t cyrillic_twin(char32_t code, Alphabets alphabets);

class WordStage {
public:
    // The most bytes that wait between two pieces: a word at the limit and
    // a character cut short after it.
    static size_t most_carried(size_t word_limit) { return word_limit + 3; }

    // Pieces handed to take() hold at most `largest_piece` new bytes. With a
    // sink, twins are reported, and the letter table's findings (handed in
    // through row_found) are passed on with them in text order.
    WordStage(FindingSink* sink, size_t word_limit, size_t largest_piece);

    // The encoding and the BOM's size, once the first bytes tell them.
    void start(TextEncoding encoding, size_t bom);
    // A finding of the letter table's pass whose repair starts `at` bytes
    // into the current piece.
    void row_found(const Finding& finding, size_t at);
    // Puts the bytes that wait for the next piece right before `piece`,
    // where the caller keeps most_carried() bytes of room.
    void move_carry(uint8_t* piece);
    // Applies the rule to the waiting bytes and the `size` bytes at `piece`;
    // `last` says no more follow. Returns the bytes that are now final,
    // valid until the next move_carry.
    ByteSpan take(uint8_t* piece, size_t size, bool last);

    bool changed() const { return changed_; }

private:
    template <class Codec>
    size_t run(const uint8_t* text, size_t size, bool last);
    template <class Codec>
    size_t trailing_run_start(const uint8_t* text, size_t from, size_t cut) const;
    template <class Codec>
    size_t word_start(const uint8_t* text, size_t floor, size_t at) const;
    template <class Codec>
    void repair_words(const uint8_t* text, size_t from, size_t settled);
    template <class Codec>
    void rewrite_word(const uint8_t* text, size_t start, size_t end, Alphabets alphabets);
    template <class Codec>
    std::string word_as_read(const uint8_t* text, size_t start, size_t end);
    struct TwinRepair {
        char32_t twin;
        char32_t mark;
        char32_t letter;
    };
    void report_twin(const uint8_t* text, size_t at, const TwinRepair& repair,
                     const std::string& word);
    void pass_findings_before(uint64_t offset);
    void count_shrink(const Finding& finding);
    void track_to(const uint8_t* text, uint64_t offset);
    void copy_out(const uint8_t* text, size_t end);

    struct QueuedFinding {
        Finding finding;
        uint64_t offset;  // where its repair starts in the repaired text
    };

    FindingSink* sink_;
    size_t word_limit_;
    TextEncoding encoding_ = TextEncoding::utf8;
    size_t bom_ = 0;
    bool changed_ = false;
    // Inside a run of letters longer than the limit, which the current
    // piece continues.
    bool in_long_run_ = false;
    const uint8_t* carry_ = nullptr;
    size_t carried_ = 0;
    size_t carried_word_ = 0;  // the carry's first bytes: letters of a word
    uint64_t handed_ = 0;       // bytes handed to take() so far
    uint64_t text_offset_ = 0;  // where the current text starts in the whole
    // Rewritten text, used only once a piece has a word to change.
    std::unique_ptr<uint8_t[]> out_;
    size_t out_size_ = 0;
    size_t copied_ = 0;  // the text before this is in out_
    bool rewriting_ = false;
    // Only with a sink: positions of twins, and the letter table's findings
    // waiting until no twin can come before them.
    std::unique_ptr<PositionTracker> tracker_;
    uint64_t tracked_ = 0;
    std::deque<QueuedFinding> queued_;
    // How much shorter the repaired text is than the text as read, by the
    // letter table's repairs passed on so far: its columns within the line
    // it names, its byte offset in all (line 0: no repair yet).
    TextPosition shrunk_{};
};
