// Times the normalization pass on generated Cyrillic texts and sets it
// against two baselines measured in the same run: the memory floor (the 57
// plain copies of the text that the pass cannot avoid: 19 rows, each one
// counting read, one copy into the area and one assignment) and python3
// applying the same 19 rows with str.replace.
#include "app/letters.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Size {
    const char* label;
    uint32_t bytes;
    int runs;
};

const Size sizes[] = {
    {"64 KiB", 64 * 1024, 101},
    {"1 MiB", 1024 * 1024, 31},
    {"8 MiB", 8 * 1024 * 1024, 9},
};

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Words of Cyrillic letters in CRLF lines, with about one look-alike (a
// search string of the table) per 200 letters. Fixed seed.
std::u16string generate_text(uint32_t bytes)
{
    std::mt19937 random(1251);
    const uint32_t units = bytes / 2;
    std::u16string text;
    text.reserve(units + 8);
    uint32_t line_length = 0;
    while (text.size() < units) {
        uint32_t word_length = 2 + random() % 9;
        for (uint32_t i = 0; i < word_length; ++i) {
            if (random() % 200 == 0) {
                text += letter_fixes[random() % 19].search;
            } else {
                char16_t base = i == 0 && random() % 8 == 0 ? u'\u0410' : u'\u0430';
                text += static_cast<char16_t>(base + random() % 32);
            }
        }
        line_length += word_length + 1;
        if (line_length > 70) {
            text += u"\r\n";
            line_length = 0;
        } else {
            text += u' ';
        }
    }
    text.resize(units);
    return text;
}

void load_work_text(const std::u16string& text)
{
    uint32_t saved_offset = string_offset();
    string_push_copy(text.c_str());
    string_assign(&work_text, saved_offset);
}

struct Timing {
    double pass;
    double floor;
};

// The 57 copies every pass must make, between buffers as large as the pass uses.
double time_floor_once(std::vector<char>* variable, std::vector<char>* area,
                       std::vector<char>* scratch)
{
    size_t bytes = variable->size();
    Clock::time_point start = Clock::now();
    for (int row = 0; row < 19; ++row) {
        std::memcpy(scratch->data(), variable->data(), bytes);
        std::memcpy(area->data(), variable->data(), bytes);
        std::memcpy(variable->data(), area->data(), bytes);
    }
    double elapsed = seconds_since(start);
    volatile char sink = (*scratch)[bytes / 2];
    (void)sink;
    return elapsed;
}

// Pass and floor alternate run by run, so that both see the same machine load.
Timing time_pass_and_floor(const std::u16string& text, int runs, std::u16string* result)
{
    size_t bytes = (text.size() + 1) * sizeof(char16_t);
    std::vector<char> variable(bytes), area(bytes), scratch(bytes);
    std::memcpy(variable.data(), text.c_str(), bytes);
    std::vector<double> pass_times, floor_times;
    for (int run = 0; run < runs; ++run) {
        load_work_text(text);
        Clock::time_point start = Clock::now();
        normalize_letters();
        pass_times.push_back(seconds_since(start));
        floor_times.push_back(time_floor_once(&variable, &area, &scratch));
    }
    *result = work_text;
    return Timing{median(pass_times), median(floor_times)};
}

std::string hex_units(const unit16* s)
{
    std::string out;
    for (; *s; ++s) {
        char unit[8];
        std::snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : "+", static_cast<unsigned>(*s));
        out += unit;
    }
    return out;
}

bool write_file(const std::string& path, const std::u16string& text)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    size_t written = std::fwrite(text.data(), sizeof(char16_t), text.size(), file);
    return std::fclose(file) == 0 && written == text.size();
}

std::u16string read_file(const std::string& path)
{
    std::u16string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char16_t buffer[4096];
    for (size_t got; (got = std::fread(buffer, sizeof(char16_t), 4096, file)) > 0;)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

std::string temporary_path(const char* suffix)
{
    char path[] = "/tmp/bench_normalize_XXXXXX";
    int descriptor = mkstemp(path);
    if (descriptor < 0)
        return std::string();
    close(descriptor);
    std::rename(path, (std::string(path) + suffix).c_str());
    return std::string(path) + suffix;
}

// Runs the python pass over the same text: its median time in seconds, or a
// negative number when python3 could not be run. *agrees tells whether its
// result equals ours.
double time_python(const std::u16string& text, int runs, const std::u16string& ours, bool* agrees)
{
    *agrees = false;
    std::string input = temporary_path(".in"), output = temporary_path(".out");
    if (input.empty() || output.empty() || !write_file(input, text))
        return -1;
    std::string command = "python3 " PYTHON_PASS_SCRIPT " " + input + " " + output + " " +
                          std::to_string(runs);
    for (const LetterFix& row : letter_fixes)
        command += " " + hex_units(row.search) + ":" + hex_units(row.replacement);
    double median_seconds = -1;
    if (FILE* python = popen(command.c_str(), "r")) {
        if (std::fscanf(python, "%lf", &median_seconds) != 1)
            median_seconds = -1;
        if (pclose(python) != 0)
            median_seconds = -1;
    }
    *agrees = read_file(output) == ours;
    std::remove(input.c_str());
    std::remove(output.c_str());
    return median_seconds;
}

}  // namespace

int main()
{
    string_area_init();
    std::printf("normalization pass: 19 rows; median of several runs per size\n");
    std::printf("%-7s %10s %10s %8s %11s %9s %s\n", "size", "pass ms", "floor ms", "/floor",
                "python ms", "speedup", "same result");
    for (const Size& size : sizes) {
        std::u16string text = generate_text(size.bytes);
        std::u16string result;
        Timing timing = time_pass_and_floor(text, size.runs, &result);
        double pass = timing.pass, floor = timing.floor;
        bool agrees = false;
        double python = time_python(text, size.runs, result, &agrees);
        if (python < 0) {
            std::printf("%-7s %10.3f %10.3f %8.2f %11s %9s %s\n", size.label, pass * 1e3,
                        floor * 1e3, pass / floor, "n/a", "n/a", "n/a");
        } else {
            std::printf("%-7s %10.3f %10.3f %8.2f %11.3f %8.2fx %s\n", size.label, pass * 1e3,
                        floor * 1e3, pass / floor, python * 1e3, python / pass,
                        agrees ? "yes" : "NO");
        }
    }
    work_text = nullptr;
    string_area_end();
    return 0;
}
