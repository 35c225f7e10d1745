// The native baseline of bench/web/run: the page's door to the engine
// (web/engine.cpp) built for this machine, timed over a file already in
// memory, keeping its records, exactly as the page times the WebAssembly
// build.
// usage: native FILE WORDS RUNS; prints the best time in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" uint8_t* input_area(size_t size);
extern "C" size_t repair(size_t size, int words, int report);

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: native FILE WORDS RUNS\n", stderr);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::vector<char> text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    int words = std::atoi(argv[2]), runs = std::atoi(argv[3]);
    std::copy(text.begin(), text.end(), input_area(text.size()));
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        repair(text.size(), words, 1);
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = took.count() < best ? took.count() : best;
    }
    std::printf("%.3f\n", best);
    return 0;
}
