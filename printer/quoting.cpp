// Quoting for names with unprintable characters, and shortening long words.
#include "printer/quoting.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the valid UTF-8 character that starts at `at`; 0 when the
// byte there starts none (an overlong form or a surrogate included).
size_t utf8_length(const std::string& text, size_t at)
{
    auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
    uint8_t lead = byte(at);
    size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
                  : lead < 0xF5 ? 4 : 0;
    // The second byte's range rules out overlong forms, surrogates and
    // code points past U+10FFFF.
    uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (size_t i = 1; i < length; ++i) {
        uint8_t next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

// C0 and C1 controls and DEL: the characters a terminal acts on.
bool is_control(const std::string& text, size_t at, size_t length)
{
    uint8_t lead = static_cast<uint8_t>(text[at]);
    return (length == 1 && (lead < 0x20 || lead == 0x7F)) ||
           (length == 2 && lead == 0xC2 && static_cast<uint8_t>(text[at + 1]) < 0xA0);
}

bool needs_quotes(const std::string& name)
{
    for (size_t at = 0; at < name.size();) {
        size_t length = utf8_length(name, at);
        if (!length || is_control(name, at, length))
            return true;
        at += length;
    }
    return false;
}

std::string escaped(uint8_t byte)
{
    static const char letters[] = "abtnvfr";  // \a (7) to \r (13)
    if (byte >= 7 && byte <= 13)
        return std::string("\\") + letters[byte - 7];
    char octal[8];
    std::snprintf(octal, sizeof octal, "\\%03o", byte);
    return octal;
}

}  // namespace

std::string quoted_name(const std::string& name)
{
    if (!needs_quotes(name))
        return name;
    // Printable runs go in '...', unprintable ones in $'...'; a quote
    // stands between them as \'.
    std::string quoted = "'";
    bool escaping = false;
    for (size_t at = 0; at < name.size();) {
        size_t length = utf8_length(name, at);
        bool printable = length && !is_control(name, at, length);
        if (!length)
            length = 1;
        if (name[at] == '\'') {
            quoted += "'\\''";
            escaping = false;
        } else if (printable) {
            quoted += escaping ? "''" : "";
            quoted.append(name, at, length);
            escaping = false;
        } else {
            quoted += escaping ? "" : "'$'";
            for (size_t i = 0; i < length; ++i)
                quoted += escaped(static_cast<uint8_t>(name[at + i]));
            escaping = true;
        }
        at += length;
    }
    return quoted + "'";
}

// Looks at no more than `longest` characters from either end, since a
// word's every twin shows it again.
std::string shortened(const char* text, size_t size, size_t longest)
{
    auto starts_character = [&](size_t at) { return (static_cast<uint8_t>(text[at]) & 0xC0) != 0x80; };
    size_t head = longest / 2, tail = longest - head - 1;
    size_t head_end = 0, seen = 0;
    for (size_t at = 0; at < size && seen <= longest; ++at) {
        if (starts_character(at) && seen++ == head)
            head_end = at;
    }
    if (seen <= longest)
        return std::string(text, size);
    size_t tail_start = size;
    for (seen = 0; seen < tail;)
        seen += starts_character(--tail_start);
    return std::string(text, head_end) + "\xE2\x80\xA6" +
           std::string(text + tail_start, size - tail_start);
}
