// Findings in the four output formats, one handler table per format. Every
// string that reaches a structured format is escaped for it, whatever bytes
// a file name holds.
#include "printer/printer.h"
#include "printer/quoting.h"

#include "letters/names.h"
#include "letters/repairs.h"
#include "stream/position.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// Kinds of finding: a row of the letter table, a composition of a base
// letter and its mark, and a twin in a word.
enum class FindingKind { row, composition, twin };

struct FindingPrinter::Letters {
    FindingKind kind;
    char32_t from[2];  // what was read: one character, or a base and its mark
    size_t from_size;
    char32_t to;
};

// A kind of repair as the run's format prints it, in up to three parts
// that its finding handler places around what each finding adds.
struct FindingPrinter::LettersText {
    std::string part[3];
    size_t from_size;
};

struct FindingPrinter::Report {
    const std::string& path;  // as the format prints the file's name
    const TextPosition& at;
    uint64_t column;  // in the unit asked for
    const LettersText& letters;
    const char* word;  // twins only: the word as it was read; else null
    size_t word_size;
};

namespace {

using Letters = FindingPrinter::Letters;
using LettersText = FindingPrinter::LettersText;
using Report = FindingPrinter::Report;

struct KindText {
    const char* id;
    const char* name;
    const char* summary;
    const char* help;
};

// In FindingKind's order; SARIF names these as its rules.
constexpr KindText kind_texts[] = {
    {"row", "LookAlikeLetter", "A look-alike of the letter table stands for a Cyrillic letter.",
     "A Greek capital, one of the Latin letters U+0138, U+1D0F and U+0299, or one of the "
     "letters U+0438, U+0435 and U+0418 followed by its combining mark stands where a Cyrillic "
     "letter belongs. The repair puts the Cyrillic letter in its place."},
    {"composition", "DecomposedLetter",
     "A Cyrillic letter is written as a base letter and a combining mark.",
     "A Cyrillic base letter followed by a combining mark (U+0433 and U+0301) stands where "
     "the precomposed letter (U+0453) belongs. The repair puts the precomposed letter in its "
     "place."},
    {"twin", "TwinInWord", "A Latin or Greek twin stands for a Cyrillic letter inside a word.",
     "With --words: inside a word that holds Cyrillic letters and no foreign letter but twins, "
     "a Latin letter or Greek omicron that looks like a Cyrillic one stands for it. The repair "
     "puts the Cyrillic letter in its place."},
};

const KindText& kind_text(FindingKind kind) { return kind_texts[static_cast<int>(kind)]; }

// "000" to "999" in a row, for writing numbers three digits at a time.
struct DigitTriples {
    char digits[3000];
    constexpr DigitTriples() : digits()
    {
        for (int i = 0; i < 1000; ++i) {
            digits[3 * i] = char('0' + i / 100);
            digits[3 * i + 1] = char('0' + i / 10 % 10);
            digits[3 * i + 2] = char('0' + i % 10);
        }
    }
};
constexpr DigitTriples digit_triples;

// Writes `number` in decimal at `p` and returns the end. Millions of lines
// and columns are printed, mostly of a few digits, so three digits cost
// one copy from a table. Below 1000 it writes three bytes whatever the
// digits (the leading zeros skipped, the next triple's first digits after
// them), so `p` needs room for three.
char* put_decimal(char* p, uint64_t number)
{
    if (number < 1000) {
        size_t zeros = number < 10 ? 2 : number < 100 ? 1 : 0;
        std::memcpy(p, digit_triples.digits + 3 * number + zeros, 3);
        return p + 3 - zeros;
    }
    p = put_decimal(p, number / 1000);
    std::memcpy(p, digit_triples.digits + 3 * (number % 1000), 3);
    return p + 3;
}

void append_number(std::string& out, uint64_t number)
{
    char digits[24];
    out.append(digits, put_decimal(digits, number));
}

void append_code(std::string& out, char32_t code)
{
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
    out += number;
}

// The repairs only name characters of the letter data, which all have names.
const char* name_of(char32_t code)
{
    const char* name = character_name(code);
    return name ? name : "";
}

void append_utf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// "U+0438 CYRILLIC SMALL LETTER I + U+0306 COMBINING BREVE -> U+0439 ...",
// and for a twin ` in "word"`, a long word shortened, since each of its
// twins shows it again.
constexpr size_t longest_shown_word = 40;

std::string describe(const Letters& letters)
{
    std::string text;
    for (size_t i = 0; i < letters.from_size; ++i) {
        if (i)
            text += " + ";
        append_code(text, letters.from[i]);
        text += ' ';
        text += name_of(letters.from[i]);
    }
    text += " -> ";
    append_code(text, letters.to);
    text += ' ';
    text += name_of(letters.to);
    return text;
}

// What a twin adds to its description: the word, or "" for any other finding.
std::string word_shown(const Report& report)
{
    if (!report.word)
        return {};
    return " in \"" + shortened(report.word, report.word_size, longest_shown_word) + '"';
}

// The length in bytes of the well-formed UTF-8 character at [p, end), or 0.
size_t utf8_character(const uint8_t* p, const uint8_t* end)
{
    if (*p < 0x80)
        return 1;
    LeadRule rule = utf8_lead_rule(*p);
    if (rule.needed == 0 || static_cast<size_t>(end - p) <= rule.needed || p[1] < rule.low ||
        p[1] > rule.high)
        return 0;
    for (uint32_t i = 2; i <= rule.needed; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return rule.needed + 1;
}

// The inside of a JSON string. Bytes that are not UTF-8 (a file name may
// hold any) become U+FFFD, since JSON text is Unicode and its readers
// refuse anything else.
void append_json_body(std::string& out, const std::string& text)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        size_t size = utf8_character(p, end);
        if (size == 0) {
            out += "\xEF\xBF\xBD";
            ++p;
        } else if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p++);
        } else if (*p < 0x20 || *p == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", *p++);
            out += escape;
        } else {
            out.append(reinterpret_cast<const char*>(p), size);
            p += size;
        }
    }
}

void append_json(std::string& out, const std::string& text)
{
    out += '"';
    append_json_body(out, text);
    out += '"';
}

void append_json_number(std::string& out, const char* key, uint64_t number)
{
    out += ",\"";
    out += key;
    out += "\":";
    append_number(out, number);
}

// A file name as a relative or file URI: bytes outside the unreserved set
// are percent-encoded, so any name survives whole.
void append_uri(std::string& out, const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
#ifdef _WIN32
    // Windows separates with backslashes and starts a full name with a drive.
    bool drive = path.size() >= 2 && path[1] == ':';
    if (drive || (!path.empty() && (path[0] == '\\' || path[0] == '/')))
        out += drive ? "file:///" : "file://";
#else
    if (!path.empty() && path[0] == '/')
        out += "file://";
#endif
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(path[i]);
#ifdef _WIN32
        if (byte == '\\')
            byte = '/';
        if (i == 1 && byte == ':') {
            out += ':';
            continue;
        }
#endif
        bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                          byte == '_' || byte == '~' || byte == '/';
        if (unreserved) {
            out += static_cast<char>(byte);
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
}

// A workflow command's text: "%", CR and LF are encoded everywhere, and in
// a property also ":" and ",", which separate properties.
void append_workflow(std::string& out, const std::string& text, bool property)
{
    for (char c : text) {
        if (c == '%')
            out += "%25";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else if (property && c == ':')
            out += "%3A";
        else if (property && c == ',')
            out += "%2C";
        else
            out += c;
    }
}

// ---- gnu: PATH:LINE:COLUMN: description ------------------------------------

void gnu_path(std::string& out, const std::string& path) { out += quoted_name(path); }

// ": description", what follows the column.
void gnu_letters(LettersText& text, const Letters& letters) { text.part[0] = ": " + describe(letters); }

// A run may print millions of these lines, so each is written at once into
// the room after the text's first `size` bytes, which grows as needed.
// Returns the text's new size.
size_t gnu_put(std::string& text, size_t size, const Report& report)
{
    constexpr size_t most_digits = 20;  // of a 64-bit number
    const std::string& path = report.path;
    const std::string& letters = report.letters.part[0];
    std::string word = report.word ? word_shown(report) : std::string();
    size_t most = path.size() + 2 * most_digits + 2 + letters.size() + word.size() + 1;
    if (text.size() - size < most)
        text.resize(std::max(2 * text.size(), size + most));
    char* p = std::copy(path.begin(), path.end(), &text[size]);
    *p++ = ':';
    p = put_decimal(p, report.at.line);
    *p++ = ':';
    p = put_decimal(p, report.column);
    p = std::copy(letters.begin(), letters.end(), p);
    p = std::copy(word.begin(), word.end(), p);
    *p++ = '\n';
    return size_t(p - text.data());
}

// ---- json: one object per line ----------------------------------------------

void json_path(std::string& out, const std::string& path) { append_json(out, path); }

void append_json_letters(std::string& out, const char* key, const char32_t* codes, size_t count)
{
    std::string text, code;
    for (size_t i = 0; i < count; ++i)
        append_utf8(text, codes[i]);
    out += ",\"";
    out += key;
    out += "\":{\"text\":";
    append_json(out, text);
    out += ",\"code_points\":[";
    for (size_t i = 0; i < count; ++i) {
        code.clear();
        append_code(code, codes[i]);
        out += i ? ",\"" : "\"";
        out += code + '"';
    }
    out += "],\"names\":[";
    for (size_t i = 0; i < count; ++i) {
        out += i ? "," : "";
        append_json(out, name_of(codes[i]));
    }
    out += "]}";
}

void json_letters(LettersText& text, const Letters& letters)
{
    std::string& out = text.part[0];
    out += ",\"kind\":";
    append_json(out, kind_text(letters.kind).id);
    append_json_letters(out, "from", letters.from, letters.from_size);
    append_json_letters(out, "to", &letters.to, 1);
}

void json_finding(std::string& out, const Report& report, uint64_t)
{
    out += "{\"path\":";
    out += report.path;
    append_json_number(out, "line", report.at.line);
    append_json_number(out, "column", report.column);
    append_json_number(out, "byte_offset", report.at.byte_offset);
    out += report.letters.part[0];
    if (report.word) {
        out += ",\"word\":";
        append_json(out, std::string(report.word, report.word_size));
    }
    out += "}\n";
}

// ---- sarif: one log for the run, written as the findings come ---------------

void sarif_start(std::string& out, ColumnUnit unit, const char* version)
{
    out += "{\"version\":\"2.1.0\",\"$schema\":"
           "\"https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/"
           "sarif-schema-2.1.0.json\",\"runs\":[{\"tool\":{\"driver\":{\"name\":\"glyphmend-cli\","
           "\"version\":";
    append_json(out, version);
    out += ",\"rules\":[";
    for (const KindText& kind : kind_texts) {
        out += &kind == kind_texts ? "\n{\"id\":" : ",\n{\"id\":";
        append_json(out, kind.id);
        out += ",\"name\":";
        append_json(out, kind.name);
        out += ",\"shortDescription\":{\"text\":";
        append_json(out, kind.summary);
        out += "},\"help\":{\"text\":";
        append_json(out, kind.help);
        out += "},\"defaultConfiguration\":{\"level\":\"warning\"}}";
    }
    out += "]}},\"columnKind\":";
    out += unit == ColumnUnit::utf16 ? "\"utf16CodeUnits\"" : "\"unicodeCodePoints\"";
    out += ",\"results\":[";
}

// The file's URI, as a JSON string.
void sarif_path(std::string& out, const std::string& path)
{
    std::string uri;
    append_uri(uri, path);
    append_json(out, uri);
}

// The rule and the message up to the word, what comes between the first
// region and the file's second URI, and the inserted text.
void sarif_letters(LettersText& text, const Letters& letters)
{
    std::string& head = text.part[0];
    head += "{\"ruleId\":";
    append_json(head, kind_text(letters.kind).id);
    head += ",\"ruleIndex\":";
    append_number(head, static_cast<uint64_t>(letters.kind));
    head += ",\"level\":\"warning\",\"message\":{\"text\":\"";
    append_json_body(head, describe(letters));

    std::string fix = "Replace with ";
    append_code(fix, letters.to);
    fix += ' ';
    fix += name_of(letters.to);
    std::string& middle = text.part[1];
    middle += "}}],\"fixes\":[{\"description\":{\"text\":";
    append_json(middle, fix);
    middle += "},\"artifactChanges\":[{\"artifactLocation\":{\"uri\":";

    std::string replacement;
    append_utf8(replacement, letters.to);
    std::string& tail = text.part[2];
    tail += ",\"insertedContent\":{\"text\":";
    append_json(tail, replacement);
    tail += "}}]}]}]}";
}

// Every character a repair reads lies below U+10000, so its length is the
// same in code points and in UTF-16 units.
void append_sarif_region(std::string& out, const Report& report)
{
    out += "{\"startLine\":";
    append_number(out, report.at.line);
    out += ",\"startColumn\":";
    append_number(out, report.column);
    out += ",\"endColumn\":";
    append_number(out, report.column + report.letters.from_size);
    out += '}';
}

void sarif_finding(std::string& out, const Report& report, uint64_t index)
{
    out += index ? ",\n" : "\n";
    out += report.letters.part[0];
    if (report.word)
        append_json_body(out, word_shown(report));
    out += "\"},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":";
    out += report.path;
    out += "},\"region\":";
    append_sarif_region(out, report);
    out += report.letters.part[1];
    out += report.path;
    out += "},\"replacements\":[{\"deletedRegion\":";
    append_sarif_region(out, report);
    out += report.letters.part[2];
}

void sarif_end(std::string& out) { out += "\n]}]}\n"; }

// ---- github: workflow commands ------------------------------------------------

void github_path(std::string& out, const std::string& path) { append_workflow(out, path, true); }

void github_letters(LettersText& text, const Letters& letters)
{
    append_workflow(text.part[0], describe(letters), false);
}

void github_finding(std::string& out, const Report& report, uint64_t)
{
    out += "::warning file=";
    out += report.path;
    out += ",line=";
    append_number(out, report.at.line);
    out += ",col=";
    append_number(out, report.column);
    out += "::";
    out += report.letters.part[0];
    if (report.word)
        append_workflow(out, word_shown(report), false);
    out += '\n';
}

// ---- the table ------------------------------------------------------------------

struct FormatHandlers {
    void (*start)(std::string& out, ColumnUnit unit, const char* version);  // null: nothing
    void (*path)(std::string& out, const std::string& path);  // the file's name, once a file
    void (*letters)(LettersText& text, const Letters& letters);  // once a kind of repair
    // A finding, either appended to the text as a string or put into the
    // room after its first `size` bytes (returning its new size); the slot
    // not used is null.
    void (*finding)(std::string& out, const Report& report, uint64_t index);
    size_t (*put)(std::string& text, size_t size, const Report& report);
    void (*end)(std::string& out);  // null: nothing
};

// In OutputFormat's order.
constexpr FormatHandlers format_handlers[] = {
    {/* start */ nullptr, /* path */ gnu_path, /* letters */ gnu_letters,
     /* finding */ nullptr, /* put */ gnu_put, /* end */ nullptr},
    {/* start */ nullptr, /* path */ json_path, /* letters */ json_letters,
     /* finding */ json_finding, /* put */ nullptr, /* end */ nullptr},
    {/* start */ sarif_start, /* path */ sarif_path, /* letters */ sarif_letters,
     /* finding */ sarif_finding, /* put */ nullptr, /* end */ sarif_end},
    {/* start */ nullptr, /* path */ github_path, /* letters */ github_letters,
     /* finding */ github_finding, /* put */ nullptr, /* end */ nullptr},
};

const FormatHandlers& handlers(OutputFormat format)
{
    return format_handlers[static_cast<int>(format)];
}

uint64_t column_in(const TextPosition& at, ColumnUnit unit)
{
    switch (unit) {
    case ColumnUnit::utf16:
        return at.utf16_column;
    case ColumnUnit::bytes:
        return at.byte_column;
    default:
        return at.column;
    }
}

struct Named {
    const char* name;
    int value;
};

constexpr Named format_names[] = {{"gnu", 0}, {"json", 1}, {"sarif", 2}, {"github", 3}};
constexpr Named unit_names[] = {{"code-points", 0}, {"utf-16", 1}, {"bytes", 2}};

template <size_t count>
bool find_name(const Named (&names)[count], const std::string& name, int& value)
{
    for (const Named& entry : names) {
        if (name == entry.name) {
            value = entry.value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool output_format_named(const std::string& name, OutputFormat& format)
{
    int value;
    if (!find_name(format_names, name, value))
        return false;
    format = static_cast<OutputFormat>(value);
    return true;
}

bool column_unit_named(const std::string& name, ColumnUnit& unit)
{
    int value;
    if (!find_name(unit_names, name, value))
        return false;
    unit = static_cast<ColumnUnit>(value);
    return true;
}

bool format_counts_in(OutputFormat format, ColumnUnit unit)
{
    return format != OutputFormat::sarif || unit != ColumnUnit::bytes;
}

FindingPrinter::FindingPrinter(OutputFormat format, ColumnUnit unit, const char* version)
    : format_(format), unit_(unit), row_texts_(repair_count)
{
    if (handlers(format_).start)
        handlers(format_).start(text_, unit_, version);
    text_size_ = text_.size();
}

FindingPrinter::~FindingPrinter() = default;

void FindingPrinter::start_file(const std::string& path)
{
    path_text_.clear();
    handlers(format_).path(path_text_, path);
    file_findings_ = 0;
}

const FindingPrinter::LettersText& FindingPrinter::row_text(int row)
{
    const std::unique_ptr<LettersText>& text = row_texts_[static_cast<size_t>(row)];
    return text ? *text : new_row_text(row);
}

// Builds what a row's findings print, at the row's first finding.
const FindingPrinter::LettersText& FindingPrinter::new_row_text(int row)
{
    const LetterFix& fix = repairs[static_cast<size_t>(row)];
    bool pair = fix.search[1] != 0;
    bool composition = repair_kind(static_cast<size_t>(row)) == RepairKind::composition;
    Letters letters{composition ? FindingKind::composition : FindingKind::row,
                    {fix.search[0], pair ? fix.search[1] : U'\0'},
                    pair ? 2u : 1u,
                    fix.replacement[0]};
    std::unique_ptr<LettersText>& text = row_texts_[static_cast<size_t>(row)];
    text.reset(new LettersText{});
    text->from_size = letters.from_size;
    handlers(format_).letters(*text, letters);
    return *text;
}

// Each of the three characters lies below U+200000, so together they fit
// one key.
const FindingPrinter::LettersText& FindingPrinter::twin_text(const TwinFinding& finding)
{
    uint64_t key = uint64_t{finding.twin} << 42 | uint64_t{finding.mark} << 21 | finding.letter;
    std::unique_ptr<LettersText>& text = twin_texts_[key];
    if (!text) {
        Letters letters{FindingKind::twin,
                        {finding.twin, finding.mark},
                        finding.mark ? 2u : 1u,
                        finding.letter};
        text.reset(new LettersText{});
        text->from_size = letters.from_size;
        handlers(format_).letters(*text, letters);
    }
    return *text;
}

void FindingPrinter::found(const Finding& finding)
{
    print({path_text_, finding.at, column_in(finding.at, unit_), row_text(finding.row), nullptr, 0});
}

void FindingPrinter::found_twin(const TwinFinding& finding)
{
    print({path_text_, finding.at, column_in(finding.at, unit_), twin_text(finding),
           finding.word ? finding.word : "", finding.word_size});
}

void FindingPrinter::print(const Report& report)
{
    const FormatHandlers& format = handlers(format_);
    if (format.put) {
        text_size_ = format.put(text_, text_size_, report);
    } else {
        text_.resize(text_size_);
        format.finding(text_, report, run_findings_);
        text_size_ = text_.size();
    }
    ++file_findings_;
    ++run_findings_;
}

void FindingPrinter::finish()
{
    if (handlers(format_).end) {
        text_.resize(text_size_);
        handlers(format_).end(text_);
        text_size_ = text_.size();
    }
}
