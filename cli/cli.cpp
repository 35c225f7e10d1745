// glyphmend-cli's options and its three ways of handling a file: as a
// filter, rewritten in place, or checked.
#include "cli/cli.h"

#include "app/letter_table.h"
#include "cli/names.h"
#include "cli/quoting.h"
#include "stream/stream.h"

#include <cstdio>
#include <string>

#ifndef GLYPHMEND_VERSION
#error "the build states the version"
#endif

namespace {

const char usage[] =
    "Usage: glyphmend-cli [OPTION]... [FILE]...\n"
    "Repair Cyrillic text in which letters were typed or pasted as look-alikes:\n"
    "decomposed letters (\xD0\xB8 + U+0306), Greek capitals and the Latin letters\n"
    "\xC4\xB8, \xE1\xB4\x8F, \xCA\x99. With no FILE, or when FILE is -, read standard input.\n"
    "Text is UTF-8, or UTF-16 after its byte order mark; every other byte passes\n"
    "through unchanged.\n"
    "\n"
    "  -i, --in-place  rewrite each FILE that needs repair, atomically;\n"
    "                  files that need none are not touched\n"
    "  -c, --check     change nothing; print PATH:LINE:COLUMN and the repair\n"
    "                  for each look-alike\n"
    "      --words     also repair Latin letters and Greek omicron that stand\n"
    "                  for Cyrillic ones inside Cyrillic words (\"C\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xBE\"); a word\n"
    "                  with any other foreign letter stays as it is\n"
    "  -a, --text      treat a binary file as text\n"
    "  -h, --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "Without -i or -c the repaired text of each FILE goes to standard output.\n"
    "A binary file (one with a NUL byte that is not UTF-16) passes through\n"
    "unchanged; -i and -c skip it with a message.\n"
    "\n"
    "Exit status: 0 on success (with --check: nothing found), 1 when --check\n"
    "found a look-alike, 2 on any error (the other files are still handled).\n"
    "\n"
    "Example: glyphmend-cli --check *.srt && glyphmend-cli -i *.srt\n";

enum class Mode { filter, in_place, check };

struct Options {
    Mode mode = Mode::filter;
    bool words = false;
    bool text = false;
    bool help = false;
    bool version = false;
    std::vector<Argument> files;
};

void complain(const std::string& message)
{
    std::fputs(("glyphmend-cli: " + message + "\n").c_str(), stderr);
}

bool take_long_option(const std::string& name, Options& options, bool& in_place, bool& check)
{
    if (name == "--in-place")
        in_place = true;
    else if (name == "--check")
        check = true;
    else if (name == "--words")
        options.words = true;
    else if (name == "--text")
        options.text = true;
    else if (name == "--help")
        options.help = true;
    else if (name == "--version")
        options.version = true;
    else
        return false;
    return true;
}

bool take_short_option(char letter, Options& options, bool& in_place, bool& check)
{
    switch (letter) {
    case 'i':
        in_place = true;
        return true;
    case 'c':
        check = true;
        return true;
    case 'a':
        options.text = true;
        return true;
    case 'h':
        options.help = true;
        return true;
    default:
        return false;
    }
}

// Options may come anywhere before "--"; "-" alone is standard input.
bool parse(const std::vector<Argument>& arguments, Options& options)
{
    bool in_place = false, check = false, options_end = false;
    for (const Argument& argument : arguments) {
        const std::string& text = argument.shown;
        if (options_end || text.size() < 2 || text[0] != '-') {
            options.files.push_back(argument);
        } else if (text == "--") {
            options_end = true;
        } else if (text[1] == '-') {
            if (!take_long_option(text, options, in_place, check)) {
                complain("unknown option '" + text + "'");
                return false;
            }
        } else {
            for (size_t i = 1; i < text.size(); ++i) {
                if (!take_short_option(text[i], options, in_place, check)) {
                    complain(std::string("unknown option '-") + text[i] + "'");
                    return false;
                }
            }
        }
    }
    if (in_place && check) {
        complain("--in-place and --check cannot be used together");
        return false;
    }
    options.mode = in_place ? Mode::in_place : check ? Mode::check : Mode::filter;
    if (options.files.empty())
        options.files.push_back({NativeName(1, '-'), "-"});
    return true;
}

bool is_standard_input(const Argument& file) { return file.shown == "-"; }

// A file open for reading, or standard input, for as long as it lives.
class Source {
public:
    Source(const Argument& file, Mode mode)
        : file_(is_standard_input(file)   ? standard_input
                : mode == Mode::in_place ? open_for_rewriting(file.native, error_)
                                         : open_for_reading(file.native, error_))
    {
    }
    ~Source() { close(); }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    bool is_open() const { return file_ >= 0; }
    int file() const { return file_; }
    // Why the file could not be opened.
    const std::string& error() const { return error_; }
    // Windows refuses to replace a file that is still open.
    void close()
    {
        if (file_ > standard_input)
            close_file(file_);
        file_ = -1;
    }

private:
    std::string error_;
    int file_;
};

// Reads the next piece into the stream's input area and shows it to the
// watch: its size, 0 at the end, -1 with the reason.
long read_piece(int source, RepairStream& stream, BinaryWatch& watch, std::string& error)
{
    uint8_t* area = stream.input_area();
    long got = read_some(source, area, RepairStream::piece_size, error);
    if (got > 0)
        watch.see(area, static_cast<size_t>(got));
    return got;
}

// Feeds the rest of the source through the stream, from a piece already
// read (`got`, as read_piece returned it), handing every final span to
// `emit` (which returns false to stop). False with the reason when the
// source cannot be read; what was read is still emitted.
template <class Emit>
bool pump(int source, RepairStream& stream, BinaryWatch& watch, long got, Emit emit,
          std::string& error)
{
    for (;;) {
        ByteSpan final = stream.repair(got > 0 ? static_cast<size_t>(got) : 0, got <= 0);
        if (!emit(final))
            return true;
        if (got <= 0)
            return got == 0;
        got = read_piece(source, stream, watch, error);
    }
}

// The same from the first piece.
template <class Emit>
bool pump(int source, RepairStream& stream, BinaryWatch& watch, Emit emit, std::string& error)
{
    return pump(source, stream, watch, read_piece(source, stream, watch, error), emit, error);
}

// Passes the rest of the source through unchanged, from a piece already
// read into `area`; the same contract as pump.
template <class Emit>
bool copy(int source, uint8_t* area, long got, Emit emit, std::string& error)
{
    for (;;) {
        if (got <= 0)
            return got == 0;
        if (!emit(ByteSpan{area, static_cast<size_t>(got)}))
            return true;
        got = read_some(source, area, RepairStream::piece_size, error);
    }
}

std::string code_and_name(char32_t code)
{
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X ", static_cast<unsigned>(code));
    const char* name = character_name(code);
    return number + std::string(name ? name : "");
}

// "U+0043 LATIN CAPITAL LETTER C -> U+0421 CYRILLIC CAPITAL LETTER ES in "Cлово"".
// A long word is shortened, since each of its twins repeats it.
std::string describe_twin(const TwinFinding& twin)
{
    constexpr size_t longest_shown_word = 40;
    std::string mark = twin.mark ? " + " + code_and_name(twin.mark) : "";
    return code_and_name(twin.twin) + mark + " -> " + code_and_name(twin.letter) + " in \"" +
           shortened(twin.word, twin.word_size, longest_shown_word) + '"';
}

// "U+0438 CYRILLIC SMALL LETTER I + U+0306 COMBINING BREVE -> U+0439 ...".
std::string describe_fix(const LetterFix& fix)
{
    std::string text;
    for (const char16_t* unit = fix.search; *unit; ++unit)
        text += (unit == fix.search ? "" : " + ") + code_and_name(*unit);
    return text + " -> " + code_and_name(fix.replacement[0]);
}

// Collects check lines and writes them to standard output in large pieces,
// as soon as a piece is full: one piece of text may hold any number of
// look-alikes. After a failed write it collects nothing more.
class CheckPrinter : public FindingSink {
public:
    explicit CheckPrinter(const std::string& path) : path_(quoted_name(path)) {}
    ~CheckPrinter() = default;

    void found(const Finding& finding) override
    {
        add(finding.at.line, finding.at.column, describe_fix(letter_fixes[finding.row]));
    }
    void found_twin(const TwinFinding& finding) override
    {
        add(finding.at.line, finding.at.column, describe_twin(finding));
    }
    // False, with the reason in error(), once a write failed.
    bool flush()
    {
        if (error_.empty())
            write_all(standard_output, lines_.data(), lines_.size(), error_);
        lines_.clear();
        return error_.empty();
    }
    const std::string& error() const { return error_; }
    uint64_t count() const { return count_; }

private:
    static constexpr size_t flush_size = 64 * 1024;

    void add(uint64_t line, uint64_t column, const std::string& repair)
    {
        if (!error_.empty())
            return;
        lines_ += path_ + ':' + std::to_string(line) + ':' + std::to_string(column) + ": " +
                  repair + '\n';
        ++count_;
        if (lines_.size() >= flush_size)
            flush();
    }

    const std::string path_;
    std::string lines_;
    std::string error_;
    uint64_t count_ = 0;
};

class Run {
public:
    explicit Run(const Options& options) : options_(options) {}

    int all_files()
    {
        for (const Argument& file : options_.files) {
            if (output_failed_)
                break;
            handle(file);
        }
        return status_;
    }

private:
    void handle(const Argument& file)
    {
        Source source(file, options_.mode);
        if (!source.is_open())
            return trouble(file, source.error());
        if (options_.mode != Mode::in_place && is_standard_output(source.file()))
            return trouble(file, "input file is output file");
        switch (options_.mode) {
        case Mode::filter:
            return filter(file, source);
        case Mode::check:
            return check(file, source);
        case Mode::in_place:
            return rewrite(file, source);
        }
    }

    void trouble(const Argument& file, const std::string& reason)
    {
        complain(quoted_name(file.shown) + ": " + reason);
        status_ = EXIT_TROUBLE;
    }

    void output_trouble(const std::string& reason)
    {
        complain("standard output: " + reason);
        status_ = EXIT_TROUBLE;
        output_failed_ = true;
    }

    bool skips(const BinaryWatch& watch) const { return watch.binary() && !options_.text; }

    // Binary files are left alone, but never silently.
    void skip_binary(const Argument& file)
    {
        complain(quoted_name(file.shown) + ": binary file, skipped");
    }

    // A filter decides on the first piece, so that it never waits for more
    // input than one piece before it writes.
    void filter(const Argument& file, Source& source)
    {
        RepairStream stream(nullptr, options_.words);
        BinaryWatch watch;
        std::string error, write_error;
        auto write = [&](ByteSpan bytes) {
            return write_all(standard_output, bytes.data, bytes.size, write_error);
        };
        long got = read_piece(source.file(), stream, watch, error);
        bool read = skips(watch) ? copy(source.file(), stream.input_area(), got, write, error)
                                 : pump(source.file(), stream, watch, got, write, error);
        if (!write_error.empty())
            return output_trouble(write_error);
        if (!read)
            trouble(file, error);
    }

    void check(const Argument& file, Source& source)
    {
        CheckPrinter printer(file.shown);
        RepairStream stream(&printer, options_.words);
        BinaryWatch watch;
        std::string error;
        long got = read_piece(source.file(), stream, watch, error);
        if (skips(watch))
            return skip_binary(file);
        bool read = pump(source.file(), stream, watch, got,
                         [&](ByteSpan) { return printer.error().empty(); }, error);
        if (!printer.flush())
            return output_trouble(printer.error());
        if (printer.count() && status_ == EXIT_REPAIRED)
            status_ = EXIT_FOUND;
        if (!read)
            trouble(file, error);
    }

    // Reads the file once to learn whether it needs repair at all, and only
    // then writes its repaired copy and puts it in the original's place.
    // Either reading sees the whole file before anything is replaced, so a
    // NUL byte anywhere keeps the file as it is.
    void rewrite(const Argument& file, Source& source)
    {
        if (is_standard_input(file))
            return trouble(file, "standard input cannot be rewritten in place");
        std::string error;
        bool needs_repair = false;
        {
            RepairStream probe(nullptr, options_.words);
            BinaryWatch watch;
            bool read = pump(source.file(), probe, watch, [&](ByteSpan) {
                return !probe.changed() && !skips(watch);
            }, error);
            if (!read)
                return trouble(file, error);
            if (skips(watch))
                return skip_binary(file);
            needs_repair = probe.changed();
        }
        if (!needs_repair)
            return;
        Rewrite rewrite;
        if (!rewind_file(source.file(), error) || !rewrite.begin(file.native, source.file(), error))
            return trouble(file, error);
        RepairStream stream(nullptr, options_.words);
        BinaryWatch watch;
        std::string write_error;
        bool read = pump(source.file(), stream, watch, [&](ByteSpan bytes) {
            return !skips(watch) && write_all(rewrite.file(), bytes.data, bytes.size, write_error);
        }, error);
        if (!write_error.empty())
            return trouble(file, write_error);
        if (!read)
            return trouble(file, error);
        if (skips(watch))
            return skip_binary(file);
        source.close();
        if (!rewrite.commit(error))
            trouble(file, error);
    }

    const Options& options_;
    int status_ = EXIT_REPAIRED;
    bool output_failed_ = false;
};

// Writes `text` to standard output and returns the exit status.
int print(const char* text)
{
    std::string error;
    if (write_all(standard_output, text, std::char_traits<char>::length(text), error))
        return EXIT_REPAIRED;
    complain("standard output: " + error);
    return EXIT_TROUBLE;
}

}  // namespace

// A mistake in the options gets a hint, not the whole usage.
int run_cli(const std::vector<Argument>& arguments)
{
    prepare_io();
    Options options;
    if (!parse(arguments, options)) {
        std::fputs("Try 'glyphmend-cli --help' for more information.\n", stderr);
        return EXIT_TROUBLE;
    }
    if (options.help)
        return print(usage);
    if (options.version)
        return print("glyphmend-cli " GLYPHMEND_VERSION "\n");
    return Run(options).all_files();
}
