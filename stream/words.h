// The word stage of glyphmend-cli, applied to the text the scan of the
// repairs leaves. A word is a maximal run of letters and marks. Greek
// capitals of the letter table are repaired here, by their word and line:
// a Greek word keeps them, and so does a word of them alone that its line
// shows to be Greek. With the word rule (--words) a word also changes when
// it holds a Cyrillic letter and every other letter in it is a twin whose
// reading its Cyrillic letters allow, unless it is glued to code; then each
// twin becomes its Cyrillic letter. The stage works on a piece at a time: a
// word cut at a piece's end waits, whole, for the next piece, unless it is
// longer than the word limit, when it passes through unchanged as every run
// of letters that long does.
#pragma once

#include "letters/alphabets.h"
#include "stream/position.h"
#include "stream/stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class LetterKind : uint8_t { other, letter, mark };

// A code point's kind as its Unicode general category says: L, M or other.
LetterKind letter_kind(char32_t code);

// The Cyrillic letter that a Latin or Greek twin stands for in a word whose
// Cyrillic letters all belong to `alphabets`, or 0.
char32_t cyrillic_twin(char32_t code, Alphabets alphabets);

// A Greek letter that no row of the table repairs and that is no twin: it
// makes its word Greek.
bool is_greek_only(char32_t code);

// The lowercase of an ASCII or a basic Cyrillic letter; any other as it is.
char32_t lower(char32_t code);

// Whether a lowercase word names the Greek capital.
bool is_name_of(char32_t capital, const std::u32string& word);

// How many characters before a word the code rule reads.
constexpr size_t signs_before = 8;

// Whether a word with these letters (marks left out) is glued to code, with
// the characters `before` it (nearest first) and `after` it, 0 where there
// is none or a byte that is no character: after %, \, $, @, &, a digit, an
// option's dash or a printf directive; before (, _, = or a digit; with both
// cases of a letter side by side (^[ДдYy]); or in a shape that code takes.
bool is_code_word(const char32_t* before, char32_t after, const std::u32string& letters);

// Whether is_code_word reads more of `before` than the character nearest
// the word, which alone is needed in most text.
bool reads_further_back(char32_t nearest);

// The Cyrillic letter the twin `letters[at]` stands for in a word of these
// letters (marks left out) whose Cyrillic letters all belong to
// `alphabets`, or 0. An s that ends the word is none; y in a word of the
// Turkic alphabets alone reads as у or ү by the word's sounds.
char32_t word_twin(std::u32string_view letters, size_t at, Alphabets alphabets);

// Whether a twin has a reading that some alphabets only hold (i, j, y…), so
// that the language of the text around its word tells how it reads.
bool reads_by_language(char32_t code);

// What a word's letters are, marks aside.
struct WordLetters {
    bool greek = false;     // a Greek letter beyond the table's capitals
    bool cyrillic = false;  // a Cyrillic letter
    bool capital = false;   // a Greek capital of the table
    size_t letters = 0;
    char32_t first = 0;
    Alphabets alphabets = every_alphabet;  // of its Cyrillic letters
};

// A word decoded once, which the rule, the code check and the rewrite all
// read, so that a damaged word costs one decode and not one per question.
// Its buffers are kept from word to word, so that no word allocates.
struct DecodedWord {
    // A letter that is not Cyrillic: a twin, a Greek capital of the table,
    // or a foreign letter.
    struct Odd {
        char32_t code;
        char32_t mark;     // the mark right after it, or 0
        uint32_t at;       // bytes from the word's start
        uint32_t letter;   // its place among the word's letters
        uint8_t size;      // its bytes, and the mark's
        uint8_t mark_size;
        char32_t becomes;  // the Cyrillic letter a twin stands for, once judged; or 0
    };

    // The word's letters, marks left out: the first letter_count of
    // letter_room, which grows with the longest word met.
    std::unique_ptr<char32_t[]> letter_room;
    size_t room = 0;
    size_t letter_count = 0;
    std::vector<Odd> odd;
    // A letter that is neither Cyrillic nor a twin nor a capital of the
    // table: the word cannot change by its twins.
    bool foreign = false;
    // A capital letter (is_upper); a twin that reads by the language
    // around it (reads_by_language); such a twin other than y.
    bool upper = false;
    bool by_language = false;
    bool by_language_beyond_y = false;
    WordLetters summary;
    // Past the character that ended the word: no word starts before it.
    size_t resume = 0;

    std::u32string_view letters() const { return {letter_room.get(), letter_count}; }
};

class WordStage {
public:
    // How far a word of Greek capitals alone looks along its line.
    static constexpr size_t context_reach = 256;

    // The most bytes kept before a piece: the history of context_reach
    // bytes, then what waits: a word of Greek capitals with the rest of its
    // reach, or a word at the limit, and a character cut short after it.
    static size_t most_carried(size_t word_limit) { return word_limit + 2 * context_reach + 3; }

    // Pieces handed to take() hold at most `largest_piece` new bytes. With
    // `twins`, the word rule applies. With a sink, repairs are reported, and
    // the scan's findings (handed in through row_found) are passed on with
    // them in text order.
    WordStage(FindingSink* sink, bool twins, size_t word_limit, size_t largest_piece);

    // The encoding and the BOM's size, once the first bytes tell them.
    void start(TextEncoding encoding, size_t bom);
    // A finding of the letter table's pass, of `row`, whose repair starts
    // `at` bytes into the current piece.
    void row_found(int row, size_t at);
    // Where the scan met what the stage looks for (is_hit_byte, is_hit_unit)
    // `at` bytes into the current piece, in text order, so that the stage
    // need not search the piece again. Returns false, not taking it, once
    // the piece has more than dense damage brings: in Greek text, or with
    // the word rule in Latin text, the stage's own search, a word at a
    // time, costs less.
    bool hit_read(size_t at);
    // How many more hits hit_read takes in this piece.
    size_t hit_room() const { return most_told - told_.size(); }
    // Puts the bytes that wait for the next piece, and the history before
    // them, right before `piece`, where the caller keeps most_carried()
    // bytes of room.
    void move_carry(uint8_t* piece);
    // Applies the rule to the waiting bytes and the `size` bytes at `piece`,
    // of which the first `clean` hold nothing the stage looks for but what
    // hit_read told, as the caller's scan found; `last` says no more
    // follow. Returns the bytes that are now final,
    // valid until the next move_carry: the text itself, its letters that
    // change into ones of the same size written over, unless a letter
    // changes size.
    ByteSpan take(uint8_t* piece, size_t size, size_t clean, bool last);

    bool changed() const { return changed_; }
    // With a sink: the line that the bytes handed on so far end on.
    uint64_t line() const { return tracker_ ? tracker_->line() : 0; }
    // Whether the word rule applies, so that twins are looked for.
    bool twins() const { return twins_; }

private:
    template <class Codec>
    size_t run(const uint8_t* text, size_t size, bool last);
    template <class Codec>
    size_t trailing_run_start(const uint8_t* text, size_t from, size_t cut) const;
    template <class Codec>
    size_t word_start(const uint8_t* text, size_t floor, size_t at) const;
    template <class Codec>
    size_t repair_words(const uint8_t* text, size_t from, size_t settled, size_t cut, bool last);
    template <class Codec>
    size_t take_capital_word(const uint8_t* text, size_t from, size_t hit, size_t settled, char32_t capital);
    template <class Codec>
    void repair_capital(const uint8_t* text, size_t at, char32_t capital);
    template <class Codec>
    size_t next_hit(const uint8_t* text, size_t at, size_t settled);
    size_t next_told_hit(size_t at, size_t end);
    bool twins_change(Alphabets alphabets);
    template <class Codec>
    bool is_code(const uint8_t* text, size_t start, size_t end, size_t cut);
    template <class Codec>
    Alphabets reading_alphabets(const uint8_t* text, size_t start, Alphabets alphabets);
    template <class Codec>
    Alphabets alphabets_before(const uint8_t* text, size_t start);
    void note_letter(Alphabets alphabets, uint64_t after);

    enum class Verdict { repair, keep, wait };
    // One side of a word in its line, as far as the stage looks. Once a
    // deciding word and a second word are met, no verdict depends on the
    // rest, which is left unread: whole_line and words then tell no more.
    struct LineSide {
        bool whole_line = false;  // it reaches the line's start or end
        bool line_edge = false;   // and holds nothing but blanks
        bool tab = false;         // the sign next to the word is a tab
        bool greek = false;       // the nearest word with Greek or Cyrillic letters is Greek
        size_t words = 0;         // exact up to two
        const uint8_t* nearest = nullptr;  // the nearest word
        const uint8_t* nearest_end = nullptr;
    };
    template <class Codec>
    Verdict judge_capitals(const uint8_t* text, size_t start, size_t end, size_t cut, bool last,
                           size_t letters, char32_t first) const;
    template <class Codec>
    static bool names(char32_t capital, const LineSide& side);
    template <class Codec>
    static void note_word(const uint8_t* start, const uint8_t* end, LineSide& side, bool& decided);
    template <class Codec>
    void look_behind(const uint8_t* text, size_t start, LineSide& side) const;
    template <class Codec>
    bool look_ahead(const uint8_t* text, size_t end, size_t cut, bool last, LineSide& side) const;
    template <class Codec>
    void rewrite_word(const uint8_t* text, size_t start, size_t end, bool twins);
    template <class Codec>
    std::string word_as_read(const uint8_t* text, size_t start, size_t end);
    struct TwinRepair {
        char32_t twin;
        char32_t mark;
        char32_t letter;
    };
    TextPosition position_at(const uint8_t* text, size_t at);
    void report_twin(const uint8_t* text, size_t at, const TwinRepair& repair,
                     const std::string& word);
    void report_capital(const uint8_t* text, size_t at, int row);
    void keep_history(const uint8_t* text, size_t settled);
    TextPosition read_position(const uint8_t* text, uint64_t offset);
    void pass_findings_before(const uint8_t* text, uint64_t offset);
    void count_shrink(const Finding& finding);
    void track_to(const uint8_t* text, uint64_t offset);
    void copy_out(const uint8_t* text, size_t end);

    struct QueuedFinding {
        int row;
        uint64_t offset;  // where its repair starts in the repaired text
    };

    FindingSink* sink_;
    bool twins_;
    // The word judged last.
    DecodedWord word_;
    // What the text read so far says of its language: the offsets, plus
    // one, of the last Cyrillic letter, of the last one of the Turkic
    // alphabets alone, and of the last one of each set of alphabets that
    // not every alphabet holds (0: none), up to where it was read. A letter
    // costs one note; the sets, few in any text, are gone through only when
    // a word asks.
    struct LanguageEvidence {
        uint64_t cyrillic_after = 0;
        uint64_t turkic_after = 0;
        uint64_t after_by_alphabets[every_alphabet] = {};
        Alphabets sets[every_alphabet] = {};  // the sets noted, in the order met
        size_t set_count = 0;
        uint64_t read_to = 0;
    };
    LanguageEvidence evidence_;
    size_t word_limit_;
    // The last bytes handed on, at most context_reach: the look back of a
    // word of Greek capitals reaches into them.
    std::unique_ptr<uint8_t[]> history_;
    size_t history_size_ = 0;
    TextEncoding encoding_ = TextEncoding::utf8;
    size_t bom_ = 0;
    bool changed_ = false;
    // Inside a run of letters longer than the limit, which the current
    // piece continues.
    bool in_long_run_ = false;
    const uint8_t* carry_ = nullptr;
    size_t carried_ = 0;
    size_t carried_word_ = 0;  // the carry's first bytes: letters of a word
    size_t clean_ = 0;         // the piece's first bytes that hold no hit but those told
    // What hit_read told of the current piece, and the first of them not
    // yet passed.
    static constexpr size_t most_told = 1024;
    std::vector<uint32_t> told_;
    size_t next_told_ = 0;
    uint64_t handed_ = 0;       // bytes handed to take() so far
    uint64_t text_offset_ = 0;  // where the current text starts in the whole
    // A letter that changes into one of the same size, written over the
    // text once the piece is judged, since judging reads the text as it was.
    struct Patch {
        uint32_t at;
        uint8_t bytes[2];
    };
    std::vector<Patch> patches_;  // in text order
    // Rewritten text, used only once a piece has a letter that changes size.
    std::unique_ptr<uint8_t[]> out_;
    size_t out_size_ = 0;
    size_t copied_ = 0;   // the text before this is in out_
    size_t patched_ = 0;  // the patches before this are in out_
    bool rewriting_ = false;
    // Only with a sink: positions of twins, and the letter table's findings
    // waiting until no twin can come before them.
    std::unique_ptr<PositionTracker> tracker_;
    uint64_t tracked_ = 0;
    // The findings queued, in text order; those before passed_ are passed on.
    std::vector<QueuedFinding> queued_;
    size_t passed_ = 0;
    // How much shorter the repaired text is than the text as read, by the
    // letter table's repairs passed on so far: its columns within the line
    // it names, its byte offset in all (line 0: no repair yet).
    TextPosition shrunk_{};
};
