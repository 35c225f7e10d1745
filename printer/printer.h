// glyphmend-cli's printer: the engine's findings as the lines of one output
// format (gnu, JSON Lines, SARIF, GitHub workflow commands), and a repair
// as a unified diff. It only builds text, in a buffer it owns; the caller
// writes that text out and drains it, so memory stays bounded however many
// findings or lines a run has. Portable C++: no system calls.
#pragma once

#include "stream/stream.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

enum class OutputFormat { gnu, json, sarif, github };
enum class ColumnUnit { code_points, utf16, bytes };

// The format or unit an option's value names; false for any other value.
bool output_format_named(const std::string& name, OutputFormat& format);
bool column_unit_named(const std::string& name, ColumnUnit& unit);
// SARIF can only say that its columns count code points or UTF-16 units.
bool format_counts_in(OutputFormat format, ColumnUnit unit);

// The findings of a run over any number of files, in one format. A format
// that makes one document of the run (SARIF) opens it at construction and
// closes it in finish().
class FindingPrinter final : public FindingSink {
public:
    // `version` is the program's, for formats that name the tool.
    FindingPrinter(OutputFormat format, ColumnUnit unit, const char* version);
    ~FindingPrinter();

    // The file whose findings follow, named as messages show it; the name
    // may hold any bytes.
    void start_file(const std::string& path);
    void found(const Finding& finding) override;
    void found_twin(const TwinFinding& finding) override;
    // Ends the run's document; call it once, after the last file.
    void finish();

    // The text built since the last drain.
    std::string_view text() const { return {text_.data(), text_size_}; }
    void drain() { text_size_ = 0; }
    // Findings in the file since start_file.
    uint64_t file_findings() const { return file_findings_; }

    struct Letters;
    struct LettersText;
    struct Report;

private:
    const LettersText& row_text(int row);
    const LettersText& new_row_text(int row);
    const LettersText& twin_text(const TwinFinding& finding);
    void print(const Report& report);

    OutputFormat format_;
    ColumnUnit unit_;
    std::string path_text_;  // the file's name as this format prints it
    // The text is text_'s first text_size_ bytes; the rest is room that a
    // format writing in place fills before the text takes it.
    std::string text_;
    size_t text_size_ = 0;
    // What each kind of repair prints, built at its first finding: a run
    // may print millions of findings of a few dozen kinds.
    std::vector<std::unique_ptr<LettersText>> row_texts_;  // by row
    std::unordered_map<uint64_t, std::unique_ptr<LettersText>> twin_texts_;
    uint64_t file_findings_ = 0;
    uint64_t run_findings_ = 0;
};

// The lines of a UTF-8 text that a repair changes, gathered from its
// findings in a first reading, and the hunks of a unified diff that show
// them with three lines of context.
class DiffPlan final : public FindingSink {
public:
    struct Hunk {
        uint64_t first;  // the first line shown, from 1
        uint64_t last;   // the last line shown
    };

    void found(const Finding& finding) override { change(finding.at.line); }
    void found_twin(const TwinFinding& finding) override { change(finding.at.line); }
    // Counts the lines of the text, handed over in pieces.
    void count_lines(const uint8_t* bytes, size_t size);
    // After the last piece: clips the last hunk to the text.
    void finish();

    const std::vector<Hunk>& hunks() const { return hunks_; }
    // Whether two readings of a text planned the same diff.
    bool same_as(const DiffPlan& other) const;

private:
    void change(uint64_t line);

    std::vector<Hunk> hunks_;
    uint64_t line_ends_ = 0;
    bool open_line_ = false;  // the text so far ends inside a line
};

// A unified diff of one text, printed from a second reading that hands over
// the text as read and as repaired, each in pieces of any size. Lines pair
// up one to one, since no repair adds or removes a line end.
class DiffPrinter {
public:
    // `path` as messages show it; the headers quote it when it needs that.
    DiffPrinter(const std::string& path, const DiffPlan& plan);

    void original(const uint8_t* bytes, size_t size);
    void repaired(const uint8_t* bytes, size_t size);
    // After the last piece of both sides.
    void finish();

    // The text built since the last drain.
    const std::string& text() const { return text_; }
    void drain() { text_.clear(); }

private:
    struct Line {
        uint64_t number;
        std::string text;  // its LF included, unless it is the text's last
    };
    // One side of the text. Only the lines a hunk shows are kept, each until
    // the other side has it whole too.
    struct Side {
        std::deque<Line> whole;  // in order; pair_lines() takes them
        std::string open;         // the shown line being read
        uint64_t number = 1;      // of the line being read
    };
    void take(Side& side, const uint8_t* bytes, size_t size);
    void close_line(Side& side);
    void pair_lines();
    bool shown(uint64_t line) const;
    void print_line(char sign, const std::string& line);

    const std::vector<DiffPlan::Hunk>& hunks_;
    size_t next_hunk_ = 0;  // the first hunk not printed whole
    Side original_, repaired_;
    std::string text_;
};
