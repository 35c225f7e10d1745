// The repair engine alone, in memory: each named file is read whole, then
// fed through RepairStream a piece at a time (the copy into its input area
// included, as reading would) and through memcpy into a buffer of the same
// size, the physical floor. Both alternate run by run so that both see the
// same machine load; the best run of each counts, in the thread's processor
// time, which other work on a shared machine disturbs less than the clock.
#include "stream/stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {


std::vector<uint8_t> read_whole(const char* path)
{
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return bytes;
    uint8_t buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(file);
    return bytes;
}

double processor_seconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9;
}

double seconds_since(double start) { return processor_seconds() - start; }

// The repaired size, so that the work cannot be left out.
size_t repair_all(const std::vector<uint8_t>& text, bool words)
{
    RepairStream stream(nullptr, words);
    size_t out = 0;
    for (size_t at = 0;;) {
        size_t size = std::min(RepairStream::piece_size, text.size() - at);
        std::memcpy(stream.input_area(), text.data() + at, size);
        at += size;
        out += stream.repair(size, at == text.size()).size;
        if (at == text.size())
            return out;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    constexpr int runs = 9;
    std::printf("%-28s %8s %9s %9s %8s %9s %8s\n", "text", "MiB", "memcpy", "filter", "ratio",
                "--words", "ratio");
    for (int i = 1; i < argc; ++i) {
        const std::vector<uint8_t> text = read_whole(argv[i]);
        if (text.empty()) {
            std::fprintf(stderr, "bench_engine: cannot read %s\n", argv[i]);
            return 2;
        }
        std::vector<uint8_t> copy(text.size());
        double floor = 1e9, filter = 1e9, words = 1e9;
        size_t sink = 0;
        for (int run = 0; run < runs; ++run) {
            double start = processor_seconds();
            std::memcpy(copy.data(), text.data(), text.size());
            floor = std::min(floor, seconds_since(start));
            sink += copy[run];
            start = processor_seconds();
            sink += repair_all(text, false);
            filter = std::min(filter, seconds_since(start));
            start = processor_seconds();
            sink += repair_all(text, true);
            words = std::min(words, seconds_since(start));
        }
        const char* name = std::strrchr(argv[i], '/');
        double gb = text.size() / 1e9;
        std::printf("%-28s %8.1f %6.2f GB/s %6.2f GB/s %7.2fx %6.2f GB/s %7.2fx\n",
                    name ? name + 1 : argv[i], text.size() / 1048576.0, gb / floor, gb / filter,
                    floor / filter, gb / words, floor / words);
        volatile size_t kept = sink;
        (void)kept;
    }
    return 0;
}
