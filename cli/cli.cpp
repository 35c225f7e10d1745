// glyphmend-cli's options and its four ways of handling a file: as a
// filter, rewritten in place, checked, or shown as a diff. The printer
// builds what check and diff print; this file only wires them.
#include "cli/cli.h"

#include "cli/lanes.h"
#include "cli/rooms.h"

#include "printer/printer.h"
#include "printer/quoting.h"
#include "stream/stream.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#ifndef GLYPHMEND_VERSION
#error "the build states the version"
#endif

namespace {

const char usage[] =
    "Usage: glyphmend-cli [OPTION]... [FILE]...\n"
    "Repair Cyrillic text in which letters were typed or pasted as look-alikes:\n"
    "decomposed letters (\xD0\xB8 + U+0306), Greek capitals outside Greek words and\n"
    "tables, and the Latin letters \xC4\xB8, \xE1\xB4\x8F, \xCA\x99. With no FILE, or when FILE\n"
    "is -, read standard input.\n"
    "Text is UTF-8, or UTF-16 after its byte order mark; every other byte passes\n"
    "through unchanged.\n"
    "\n"
    "  -i, --in-place  rewrite each FILE that needs repair, atomically;\n"
    "                  files that need none are not touched\n"
    "  -c, --check     change nothing; print PATH:LINE:COLUMN and the repair\n"
    "                  for each look-alike\n"
    "      --diff      change nothing; print what -i would change as a unified\n"
    "                  diff, for patch -p0 or git apply\n"
    "      --format=FORMAT  what --check prints: gnu (the default), json (JSON\n"
    "                  Lines), sarif (a SARIF 2.1.0 log) or github (workflow\n"
    "                  commands)\n"
    "      --columns=UNIT  what --check's columns count: code-points (the\n"
    "                  default), utf-16 or bytes\n"
    "      --words     also repair Latin letters and Greek omicron that stand\n"
    "                  for Cyrillic ones inside Cyrillic words (\"C\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xBE\"); a word\n"
    "                  with any other foreign letter, or glued to code, stays\n"
    "  -a, --text      treat a binary file as text\n"
    "  -h, --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "\n"
    "Without -i, -c or --diff the repaired text of each FILE goes to standard\n"
    "output.\n"
    "A binary file (one with a NUL byte that is not UTF-16) passes through\n"
    "unchanged; -i and -c skip it with a message.\n"
    "\n"
    "Exit status: 0 on success (with --check or --diff: nothing found), 1 when\n"
    "--check or --diff found a look-alike, 2 on any error (the other files are\n"
    "still handled).\n"
    "\n"
    "Example: glyphmend-cli --check *.srt && glyphmend-cli -i *.srt\n";

enum class Mode { filter, in_place, check, diff };

struct Options {
    Mode mode = Mode::filter;
    OutputFormat format = OutputFormat::gnu;
    ColumnUnit columns = ColumnUnit::code_points;
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

// The modes that exclude one another, as the options ask for them.
struct ModeChoice {
    bool in_place = false;
    bool check = false;
    bool diff = false;
    bool format = false;  // --format or --columns was given
};

// "--NAME=VALUE" when `text` starts with "--NAME=".
bool value_of(const std::string& text, const char* name, std::string& value)
{
    std::string prefix = std::string(name) + '=';
    if (text.compare(0, prefix.size(), prefix) != 0)
        return false;
    value = text.substr(prefix.size());
    return true;
}

// --format=FORMAT and --columns=UNIT: `known` says whether `text` is one of
// them. False with a message for a value the option does not know.
bool take_valued_option(const std::string& text, Options& options, ModeChoice& mode, bool& known)
{
    std::string value;
    known = true;
    if (value_of(text, "--format", value)) {
        mode.format = true;
        if (output_format_named(value, options.format))
            return true;
        complain("unknown format '" + value + "': gnu, json, sarif or github");
        return false;
    }
    if (value_of(text, "--columns", value)) {
        mode.format = true;
        if (column_unit_named(value, options.columns))
            return true;
        complain("unknown column unit '" + value + "': code-points, utf-16 or bytes");
        return false;
    }
    known = false;
    return true;
}

bool take_long_option(const std::string& name, Options& options, ModeChoice& mode)
{
    if (name == "--in-place")
        mode.in_place = true;
    else if (name == "--check")
        mode.check = true;
    else if (name == "--diff")
        mode.diff = true;
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

bool take_short_option(char letter, Options& options, ModeChoice& mode)
{
    switch (letter) {
    case 'i':
        mode.in_place = true;
        return true;
    case 'c':
        mode.check = true;
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

// One mode at most; --format and --columns only shape what --check prints.
bool settle_mode(const ModeChoice& mode, Options& options)
{
    if (mode.in_place + mode.check + mode.diff > 1) {
        complain("--in-place, --check and --diff cannot be used together");
        return false;
    }
    if (mode.format && !mode.check) {
        complain("--format and --columns apply to --check");
        return false;
    }
    if (!format_counts_in(options.format, options.columns)) {
        complain("SARIF counts columns in code-points or utf-16 only");
        return false;
    }
    options.mode = mode.in_place ? Mode::in_place
                 : mode.check    ? Mode::check
                 : mode.diff     ? Mode::diff
                                 : Mode::filter;
    return true;
}

// "--format VALUE" and "--columns VALUE": the option with the argument
// after it as its value, as "--format=VALUE"; false with a message when
// there is none.
bool join_value(const std::vector<Argument>& arguments, size_t& index, std::string& text)
{
    if (text != "--format" && text != "--columns")
        return true;
    if (++index == arguments.size()) {
        complain("option '" + text + "' needs a value");
        return false;
    }
    text += '=' + arguments[index].shown;
    return true;
}

// Options may come anywhere before "--"; "-" alone is standard input.
bool parse(const std::vector<Argument>& arguments, Options& options)
{
    ModeChoice mode;
    bool options_end = false;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const Argument& argument = arguments[index];
        std::string text = argument.shown;
        bool known = false;
        if (options_end || text.size() < 2 || text[0] != '-') {
            options.files.push_back(argument);
        } else if (text == "--") {
            options_end = true;
        } else if (text[1] == '-') {
            if (!join_value(arguments, index, text) ||
                !take_valued_option(text, options, mode, known))
                return false;
            if (!known && !take_long_option(text, options, mode)) {
                complain("unknown option '" + text + "'");
                return false;
            }
        } else {
            for (size_t i = 1; i < text.size(); ++i) {
                if (!take_short_option(text[i], options, mode)) {
                    complain(std::string("unknown option '-") + text[i] + "'");
                    return false;
                }
            }
        }
    }
    if (!settle_mode(mode, options))
        return false;
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
// watch (a BinaryWatch, or anything else that must see the bytes before
// the repair changes them): its size, 0 at the end, -1 with the reason.
template <class Watch>
long read_piece(int source, RepairStream& stream, Watch& watch, std::string& error)
{
    uint8_t* area = stream.input_area();
    long got = read_some(source, area, RepairStream::piece_size, error);
    if (got > 0)
        watch.see(area, static_cast<size_t>(got));
    return got;
}

// For the modes that decide on the first piece: the pieces after it need
// no watching, which spares a search of every byte for NUL.
struct Unwatched {
    void see(const uint8_t*, size_t) {}
};

// Feeds the rest of the source through the stream, from a piece already
// read (`got`, as read_piece returned it), handing every final span to
// `emit` (which returns false to stop). False with the reason when the
// source cannot be read; what was read is still emitted.
template <class Watch, class Emit>
bool pump(int source, RepairStream& stream, Watch& watch, long got, Emit emit,
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
template <class Watch, class Emit>
bool pump(int source, RepairStream& stream, Watch& watch, Emit emit, std::string& error)
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

// The second reading of --diff: the binary rule and the diff's side as
// read both see each piece before the repair changes it.
struct DiffReading {
    BinaryWatch& binary;
    DiffPrinter& printer;

    void see(const uint8_t* bytes, size_t size)
    {
        binary.see(bytes, size);
        printer.original(bytes, size);
    }
};

// Printed text waits until it fills this much, then goes out in one write.
constexpr size_t flush_size = 64 * 1024;

class Run {
public:
    explicit Run(const Options& options) : options_(options)
    {
        if (options_.mode == Mode::check)
            findings_.reset(
                new FindingPrinter(options_.format, options_.columns, GLYPHMEND_VERSION));
    }

    // A SARIF log stays whole when a file fails, since it is closed after
    // the last file, unless standard output itself failed.
    int all_files()
    {
        for (const Argument& file : options_.files) {
            if (output_failed_)
                break;
            handle(file);
        }
        if (findings_ && !output_failed_) {
            findings_->finish();
            flush_output(*findings_, 0);
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
        case Mode::diff:
            return diff(file, source);
        }
    }

    // Writes out what the printer holds once it holds `least` bytes; false
    // when standard output failed.
    template <class Printer>
    bool flush_output(Printer& printer, size_t least)
    {
        if (printer.text().size() < least || printer.text().empty())
            return true;
        std::string error;
        bool written = write_all(standard_output, printer.text().data(), printer.text().size(), error);
        printer.drain();
        if (!written)
            output_trouble(error);
        return written;
    }

    void found_something()
    {
        if (status_ == EXIT_REPAIRED)
            status_ = EXIT_FOUND;
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

    // Repairs the source from its first piece (read_piece's `got`) on, with
    // pump's contract: on two threads when the source is a regular file
    // that fills the first piece, unless it reports the word rule's
    // findings.
    bool repair_rest(int source, RepairStream& stream, FindingSink* sink, long got,
                     const std::function<bool(ByteSpan)>& emit, std::string& error)
    {
        if (got == long(RepairStream::piece_size) &&
            repair_in_lanes(source, stream, rooms_, options_.words, sink, emit, error))
            return error.empty();
        Unwatched rest;
        return pump(source, stream, rest, got, emit, error);
    }

    // A filter decides on the first piece, so that it never waits for more
    // input than one piece before it writes.
    void filter(const Argument& file, Source& source)
    {
        StreamRooms::Room room = room_for(source);
        RepairStream stream(nullptr, options_.words, room.bytes());
        BinaryWatch watch;
        std::string error, write_error;
        std::function<bool(ByteSpan)> write = [&](ByteSpan bytes) {
            return write_all(standard_output, bytes.data, bytes.size, write_error);
        };
        long got = read_piece(source.file(), stream, watch, error);
        bool read = skips(watch) ? copy(source.file(), stream.input_area(), got, write, error)
                                 : repair_rest(source.file(), stream, nullptr, got, write, error);
        if (!write_error.empty())
            return output_trouble(write_error);
        if (!read)
            trouble(file, error);
    }

    // Hands each finding to the printer and writes the printed text out as
    // soon as a piece of it is full: one piece of input may hold any number
    // of findings.
    class FlushingSink final : public FindingSink {
    public:
        explicit FlushingSink(Run& run) : run_(run) {}
        void found(const Finding& finding) override
        {
            if (run_.output_failed_)
                return;
            run_.findings_->found(finding);
            run_.flush_output(*run_.findings_, flush_size);
        }
        void found_twin(const TwinFinding& finding) override
        {
            if (run_.output_failed_)
                return;
            run_.findings_->found_twin(finding);
            run_.flush_output(*run_.findings_, flush_size);
        }

    private:
        Run& run_;
    };

    void check(const Argument& file, Source& source)
    {
        FindingPrinter& printer = *findings_;
        printer.start_file(file.shown);
        FlushingSink sink(*this);
        StreamRooms::Room room = room_for(source);
        RepairStream stream(&sink, options_.words, room.bytes());
        BinaryWatch watch;
        std::string error;
        long got = read_piece(source.file(), stream, watch, error);
        if (skips(watch))
            return skip_binary(file);
        std::function<bool(ByteSpan)> flush = [&](ByteSpan) {
            return !output_failed_ && flush_output(printer, flush_size);
        };
        bool read = repair_rest(source.file(), stream, &sink, got, flush, error);
        if (!flush_output(printer, 0))
            return;
        if (printer.file_findings())
            found_something();
        if (!read)
            trouble(file, error);
    }

    // Reads the file once to plan the hunks from its findings, and again to
    // print them. Like -i, it skips a file with a NUL byte anywhere. A file
    // that changed between the two readings is reported as trouble.
    void diff(const Argument& file, Source& source)
    {
        if (is_standard_input(file))
            return trouble(file, "a diff names the file it changes; standard input has none");
        std::string error;
        DiffPlan plan;
        {
            StreamRooms::Room room = room_for(source);
            RepairStream stream(&plan, options_.words, room.bytes());
            BinaryWatch watch;
            bool read = pump(source.file(), stream, watch, [&](ByteSpan bytes) {
                plan.count_lines(bytes.data, bytes.size);
                return !skips(watch);
            }, error);
            if (!read)
                return trouble(file, error);
            if (skips(watch))
                return skip_binary(file);
            if (!stream.changed())
                return;
            if (stream.encoding() != TextEncoding::utf8)
                return trouble(file, "UTF-16 text has no unified diff; --check lists its look-alikes");
            plan.finish();
        }
        if (!rewind_file(source.file(), error))
            return trouble(file, error);
        DiffPlan replan;
        // patch and git apply refuse full names.
        DiffPrinter printer(relative_to_current_folder(file.shown), plan);
        StreamRooms::Room room = room_for(source);
        RepairStream stream(&replan, options_.words, room.bytes());
        BinaryWatch watch;
        DiffReading reading{watch, printer};
        bool read = pump(source.file(), stream, reading, [&](ByteSpan bytes) {
            replan.count_lines(bytes.data, bytes.size);
            printer.repaired(bytes.data, bytes.size);
            return flush_output(printer, flush_size);
        }, error);
        printer.finish();
        replan.finish();
        if (!flush_output(printer, 0))
            return;
        if (!read)
            return trouble(file, error);
        if (skips(watch) || !replan.same_as(plan))
            return trouble(file, "changed while it was read; its diff is not to be trusted");
        found_something();
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
            StreamRooms::Room room = room_for(source);
            RepairStream probe(nullptr, options_.words, room.bytes());
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
        StreamRooms::Room room = room_for(source);
        RepairStream stream(nullptr, options_.words, room.bytes());
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

    // A room for a stream of the text in `source`.
    StreamRooms::Room room_for(const Source& source)
    {
        uint64_t size;
        return rooms_.take(regular_file_size(source.file(), size) && size > RepairStream::piece_size);
    }

    const Options& options_;
    StreamRooms rooms_;
    std::unique_ptr<FindingPrinter> findings_;  // only for --check
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
