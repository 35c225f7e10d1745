// Throughput of image_resample on a 4000x3000 RGBA image, shrunk to 1000x750
// and enlarged to 8000x6000, in megapixels of output per second, against
// ImageMagick's convert with the Mitchell filter on one thread, measured in
// the same run. The peer's time is the whole command on a raw RGBA file
// minus the same command without the resize, so reading and writing the
// file is not counted. Each figure is the best of several runs; CPU time
// (ours: this process; peer: the child processes) is reported next to wall
// time because the machine is shared.
#include "toolkit/image/image.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

const int32_t SOURCE_WIDTH = 4000;
const int32_t SOURCE_HEIGHT = 3000;
const int32_t OUR_RUNS = 5;
const int32_t PEER_RUNS = 3;

struct Timing {
    double wall;
    double cpu;
};

Timing best_of(Timing a, Timing b)
{
    return {a.wall < b.wall ? a.wall : b.wall, a.cpu < b.cpu ? a.cpu : b.cpu};
}

double wall_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double process_cpu_now()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

double children_cpu_now()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// A smooth picture with noise on it, the same in every run.
std::vector<uint8_t> make_source()
{
    std::mt19937 random(2026);
    std::vector<uint8_t> pixels(static_cast<size_t>(SOURCE_WIDTH) * SOURCE_HEIGHT * 4);
    size_t i = 0;
    for (int32_t y = 0; y < SOURCE_HEIGHT; ++y)
        for (int32_t x = 0; x < SOURCE_WIDTH; ++x) {
            pixels[i++] = static_cast<uint8_t>(x * 255 / SOURCE_WIDTH + random() % 32);
            pixels[i++] = static_cast<uint8_t>(y * 255 / SOURCE_HEIGHT + random() % 32);
            pixels[i++] = static_cast<uint8_t>((x ^ y) & 0xFF);
            pixels[i++] = 255;
        }
    return pixels;
}

Timing time_ours(const std::vector<uint8_t>& source, std::vector<uint8_t>& out, int32_t width,
                 int32_t height, int32_t runs)
{
    Timing best = {1e30, 1e30};
    for (int32_t run = 0; run < runs; ++run) {
        double wall = wall_now(), cpu = process_cpu_now();
        if (!image_resample(source.data(), SOURCE_WIDTH, SOURCE_HEIGHT, out.data(), width, height, 32)) {
            std::fprintf(stderr, "image_resample failed\n");
            std::exit(1);
        }
        best = best_of(best, {wall_now() - wall, process_cpu_now() - cpu});
    }
    return best;
}

Timing time_command(const std::string& command, int32_t runs)
{
    Timing best = {1e30, 1e30};
    for (int32_t run = 0; run < runs; ++run) {
        double wall = wall_now(), cpu = children_cpu_now();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
        best = best_of(best, {wall_now() - wall, children_cpu_now() - cpu});
    }
    return best;
}

// Raises ImageMagick's resource limits through a policy of our own (the
// system policy caps what -limit may ask for), so the large case keeps its
// pixel cache in memory.
void write_peer_policy(const std::string& directory)
{
    std::string path = directory + "/policy.xml";
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs("<policymap>\n"
               "  <policy domain=\"resource\" name=\"memory\" value=\"4GiB\"/>\n"
               "  <policy domain=\"resource\" name=\"map\" value=\"8GiB\"/>\n"
               "  <policy domain=\"resource\" name=\"area\" value=\"1GP\"/>\n"
               "  <policy domain=\"resource\" name=\"width\" value=\"64KP\"/>\n"
               "  <policy domain=\"resource\" name=\"height\" value=\"64KP\"/>\n"
               "</policymap>\n",
               file);
    std::fclose(file);
    setenv("MAGICK_CONFIGURE_PATH", directory.c_str(), 1);
}

std::string write_source_file(const std::string& directory, const std::vector<uint8_t>& source)
{
    std::string path = directory + "/source.rgba";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(source.data(), 1, source.size(), file);
    std::fclose(file);
    return path;
}

void print_rate(const char* who, double megapixels, Timing t)
{
    std::printf("  %-28s %8.3f s cpu %8.3f s wall   %7.2f MP/s cpu %7.2f MP/s wall\n", who, t.cpu,
                t.wall, megapixels / t.cpu, megapixels / t.wall);
}

}  // namespace

int main()
{
    std::vector<uint8_t> source = make_source();
    struct Case { int32_t width, height; } cases[] = {{1000, 750}, {8000, 6000}};

    bool have_peer = std::system("convert -version > /dev/null 2>&1") == 0;
    char directory[] = "/tmp/bench_resample.XXXXXX";
    std::string input;
    std::string peer;
    Timing noop = {0, 0};
    if (have_peer && mkdtemp(directory)) {
        write_peer_policy(directory);
        input = write_source_file(directory, source);
        peer = "convert -limit thread 1 -limit memory 2GiB -limit map 4GiB -limit area 1GP -size " +
               std::to_string(SOURCE_WIDTH) + "x" + std::to_string(SOURCE_HEIGHT) +
               " -depth 8 rgba:" + input;
        noop = time_command(peer + " rgba:/dev/null", PEER_RUNS);
        std::printf("peer: %s ... rgba:/dev/null\n", peer.c_str());
        std::printf("peer no-op (read and write only): %.3f s cpu, %.3f s wall\n", noop.cpu, noop.wall);
    } else {
        have_peer = false;
        std::printf("convert not found: peer not measured\n");
    }

    for (const Case& c : cases) {
        double megapixels = c.width * 1e-6 * c.height;
        std::vector<uint8_t> out(static_cast<size_t>(c.width) * c.height * 4);
        std::printf("\n%dx%d RGBA -> %dx%d (%.2f MP out)\n", SOURCE_WIDTH, SOURCE_HEIGHT, c.width,
                    c.height, megapixels);
        Timing ours = time_ours(source, out, c.width, c.height, OUR_RUNS);
        print_rate("image_resample", megapixels, ours);
        if (!have_peer)
            continue;
        std::string resize = peer + " -filter Mitchell -resize " + std::to_string(c.width) + "x" +
                             std::to_string(c.height) + "! rgba:/dev/null";
        Timing whole = time_command(resize, PEER_RUNS);
        Timing theirs = {whole.wall - noop.wall, whole.cpu - noop.cpu};
        print_rate("convert -filter Mitchell", megapixels, theirs);
        std::printf("  ratio ours/peer: %.2fx cpu, %.2fx wall\n", theirs.cpu / ours.cpu,
                    theirs.wall / ours.wall);
    }

    if (have_peer) {
        std::remove(input.c_str());
        std::remove((std::string(directory) + "/policy.xml").c_str());
        rmdir(directory);
    }
    return 0;
}
