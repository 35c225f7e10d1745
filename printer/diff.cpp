// A repair as a unified diff that patch -p0 and git apply accept: the
// hunks are planned from the findings of a first reading, so a second
// reading prints them as it goes and keeps only the lines they show.
#include "printer/printer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t context_lines = 3;

// A name as the headers give it. git apply strips the first part of a name
// and patch -p0 none, so a relative name gets "./" in front, which both
// then read as the same file. A space would end the name, so a TAB ends it
// instead; control characters, quotes and backslashes need the quoted form
// that both read, and so does a space at the end, which patch drops from
// an unquoted name.
std::string header_name(std::string path)
{
#ifdef _WIN32
    // Both readers separate folders with "/" only; Windows takes either. A
    // drive letter starts a full name.
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    bool drive = path.size() >= 2 && path[1] == ':';
#else
    bool drive = false;
#endif
    bool relative = !path.empty() && path[0] != '/' && !drive && path.compare(0, 2, "./") != 0;
    std::string name = relative ? "./" + path : path;
    bool quote = !name.empty() && name.back() == ' ', space = false;
    for (unsigned char byte : name) {
        quote = quote || byte < 0x20 || byte == 0x7F || byte == '"' || byte == '\\';
        space = space || byte == ' ';
    }
    if (!quote)
        return space ? name + '\t' : name;
    std::string quoted = "\"";
    for (unsigned char byte : name) {
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(byte);
        } else if (byte == '\t') {
            quoted += "\\t";
        } else if (byte == '\n') {
            quoted += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", byte);
            quoted += escape;
        } else {
            quoted += static_cast<char>(byte);
        }
    }
    return quoted + '"';
}

}  // namespace

// Findings come in text order, so a change either widens the last hunk or,
// when more than twice the context lies between them, starts a new one.
void DiffPlan::change(uint64_t line)
{
    uint64_t first = line > context_lines ? line - context_lines : 1;
    if (!hunks_.empty() && first <= hunks_.back().last + 1)
        hunks_.back().last = line + context_lines;
    else
        hunks_.push_back({first, line + context_lines});
}

void DiffPlan::count_lines(const uint8_t* bytes, size_t size)
{
    if (size == 0)
        return;
    line_ends_ += std::count(bytes, bytes + size, '\n');
    open_line_ = bytes[size - 1] != '\n';
}

void DiffPlan::finish()
{
    uint64_t lines = line_ends_ + (open_line_ ? 1 : 0);
    if (!hunks_.empty())
        hunks_.back().last = std::min(hunks_.back().last, lines);
}

bool DiffPlan::same_as(const DiffPlan& other) const
{
    if (hunks_.size() != other.hunks_.size() || line_ends_ != other.line_ends_ ||
        open_line_ != other.open_line_)
        return false;
    for (size_t i = 0; i < hunks_.size(); ++i) {
        if (hunks_[i].first != other.hunks_[i].first || hunks_[i].last != other.hunks_[i].last)
            return false;
    }
    return true;
}

DiffPrinter::DiffPrinter(const std::string& path, const DiffPlan& plan) : hunks_(plan.hunks())
{
    std::string name = header_name(path);
    text_ = "--- " + name + "\n+++ " + name + '\n';
}

void DiffPrinter::original(const uint8_t* bytes, size_t size)
{
    take(original_, bytes, size);
    pair_lines();
}

void DiffPrinter::repaired(const uint8_t* bytes, size_t size)
{
    take(repaired_, bytes, size);
    pair_lines();
}

void DiffPrinter::finish()
{
    if (!original_.open.empty())
        close_line(original_);
    if (!repaired_.open.empty())
        close_line(repaired_);
    pair_lines();
}

void DiffPrinter::take(Side& side, const uint8_t* bytes, size_t size)
{
    const uint8_t* end = bytes + size;
    while (bytes < end) {
        const void* lf = std::memchr(bytes, '\n', end - bytes);
        const uint8_t* stop = lf ? static_cast<const uint8_t*>(lf) + 1 : end;
        if (shown(side.number))
            side.open.append(reinterpret_cast<const char*>(bytes), stop - bytes);
        bytes = stop;
        if (lf)
            close_line(side);
    }
}

void DiffPrinter::close_line(Side& side)
{
    if (shown(side.number))
        side.whole.push_back({side.number, std::move(side.open)});
    side.open.clear();
    ++side.number;
}

bool DiffPrinter::shown(uint64_t line) const
{
    auto after = std::upper_bound(hunks_.begin(), hunks_.end(), line,
                                  [](uint64_t l, const DiffPlan::Hunk& h) { return l < h.first; });
    return after != hunks_.begin() && line <= (after - 1)->last;
}

// Unified diff lets a hunk's removed and added lines alternate, so each
// changed line is printed as soon as both its forms are whole.
void DiffPrinter::pair_lines()
{
    for (; !original_.whole.empty() && !repaired_.whole.empty();
         original_.whole.pop_front(), repaired_.whole.pop_front()) {
        const Line& before = original_.whole.front();
        const Line& after = repaired_.whole.front();
        while (next_hunk_ < hunks_.size() && hunks_[next_hunk_].last < before.number)
            ++next_hunk_;
        const DiffPlan::Hunk& hunk = hunks_[next_hunk_];
        if (before.number == hunk.first) {
            uint64_t count = hunk.last - hunk.first + 1;
            text_ += "@@ -" + std::to_string(hunk.first) + ',' + std::to_string(count) + " +" +
                     std::to_string(hunk.first) + ',' + std::to_string(count) + " @@\n";
        }
        if (before.text == after.text) {
            print_line(' ', before.text);
        } else {
            print_line('-', before.text);
            print_line('+', after.text);
        }
    }
}

void DiffPrinter::print_line(char sign, const std::string& line)
{
    text_ += sign;
    text_ += line;
    if (line.empty() || line.back() != '\n')
        text_ += "\n\\ No newline at end of file\n";
}
