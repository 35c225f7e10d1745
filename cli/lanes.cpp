#include "cli/lanes.h"

#include "cli/system.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr uint64_t piece = RepairStream::piece_size;
// How much a thread reads at a time while it looks for a line end.
constexpr size_t look_size = 16 * 1024;
constexpr size_t none = SIZE_MAX;

// Where the bytes after the first line end in [bytes, bytes + size) start,
// or none. `at` is where `bytes` lies in the text: a UTF-16 line end is the
// unit 0x000A on the grid of units that starts with the text.
size_t after_first_line_end(const uint8_t* bytes, size_t size, uint64_t at, TextEncoding encoding)
{
    if (encoding == TextEncoding::utf8) {
        const void* line_end = std::memchr(bytes, '\n', size);
        return line_end ? size_t(static_cast<const uint8_t*>(line_end) - bytes) + 1 : none;
    }
    size_t low = encoding == TextEncoding::utf16be ? 1 : 0;
    for (size_t unit = size_t(at % 2); unit + 2 <= size; unit += 2) {
        if (bytes[unit + low] == '\n' && bytes[unit + 1 - low] == 0)
            return unit + 2;
    }
    return none;
}

void pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

class Lanes {
public:
    Lanes(int source, uint64_t origin, int output, TextEncoding encoding)
        : source_(source), output_(output), origin_(origin), encoding_(encoding)
    {
    }

    // Runs lane `lane` (0 or 1) with its stream; lane 0's holds the first
    // piece.
    void run(int lane, RepairStream& stream)
    {
        std::unique_ptr<uint8_t[]> look(new uint8_t[look_size]);
        for (uint64_t chunk = uint64_t(lane);; chunk += 2) {
            uint64_t start = 0;
            std::string error;
            Start found = chunk == 0 ? Start::found : find_start(chunk, look.get(), start, error);
            if (found == Start::found) {
                if (!repair_chunk(chunk, start, stream))
                    return;
                continue;
            }
            // Normally the chunk before ended the text, or took this one's
            // piece whole; otherwise the file changed while it was read.
            if (!take_turn(chunk))
                return;
            if (found == Start::none) {
                pass(chunk, chunk_end_, false);
                continue;
            }
            read_error = found == Start::trouble ? error : "changed while it was read";
            return pass(chunk, chunk_end_, true);
        }
    }

    // Where the text ended, once it did.
    uint64_t end() const { return ended_.load() && !failed_.load() ? chunk_end_ : 0; }

    std::string read_error, write_error;

private:
    enum class Start { found, none, end, trouble };

    // Where chunk `chunk` starts: found, or none when its piece holds no
    // line end, or the end of the text before any.
    Start find_start(uint64_t chunk, uint8_t* look, uint64_t& start, std::string& error)
    {
        for (uint64_t at = chunk * piece, limit = at + piece; at < limit;) {
            size_t want = size_t(std::min<uint64_t>(look_size, limit - at));
            long got = read_at(source_, look, want, origin_ + at, error);
            if (got < 0)
                return Start::trouble;
            size_t after = after_first_line_end(look, size_t(got), at, encoding_);
            if (after != none) {
                start = at + after;
                return Start::found;
            }
            if (size_t(got) < want)
                return Start::end;
            at += want;
        }
        return Start::none;
    }

    // Reads, repairs and writes the chunk from `start` to just after the
    // first line end at or after the next piece's start, or to the text's
    // end; false when the lane is done.
    bool repair_chunk(uint64_t chunk, uint64_t start, RepairStream& stream)
    {
        uint64_t at = start, limit = (chunk + 1) * piece;
        bool turn = false;
        for (;;) {
            uint8_t* area = stream.input_area();
            size_t want = at < limit ? piece : look_size;
            std::string error;
            // The first piece of the text is in the area already.
            long got = chunk == 0 && at == 0 ? long(piece) : read_at(source_, area, want, origin_ + at, error);
            size_t size = got > 0 ? size_t(got) : 0, cut = size;
            bool last = size < want, chunk_ends = last;
            if (at + size > limit) {
                size_t from = at < limit ? size_t(limit - at) : 0;
                size_t after = after_first_line_end(area + from, size - from, at + from, encoding_);
                if (after != none && got >= 0) {
                    cut = from + after;
                    chunk_ends = true;
                    last = false;
                }
            }
            ByteSpan repaired = stream.repair(cut, last);
            if (!turn) {
                if (!take_turn(chunk))
                    return false;
                turn = true;
                if (start != chunk_end_) {
                    read_error = "changed while it was read";
                    pass(chunk, chunk_end_, true);
                    return false;
                }
            }
            if (!write_all(output_, repaired.data, repaired.size, write_error)) {
                fail();
                return false;
            }
            at += cut;
            if (chunk_ends) {
                read_error = error;
                pass(chunk, at, last);
                return !last;
            }
        }
    }

    // Waits for the turn to write chunk `chunk`; false once the text ended
    // or output failed. A turn comes within a chunk's time, and putting a
    // thread to sleep and waking it costs about as long, so the lane spins
    // a while first.
    bool take_turn(uint64_t chunk)
    {
        auto ready = [&] { return turn_.load() == chunk || ended_.load() || failed_.load(); };
        for (int spin = 0; spin < 20000 && !ready(); ++spin)
            pause();
        if (!ready()) {
            std::unique_lock<std::mutex> lock(mutex_);
            turned_.wait(lock, ready);
        }
        return !ended_.load() && !failed_.load();
    }

    // Chunk `chunk` is written; the text goes on after `end` unless `last`.
    void pass(uint64_t chunk, uint64_t end, bool last)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            chunk_end_ = end;
            ended_.store(last);
            turn_.store(chunk + 1);
        }
        turned_.notify_all();
    }

    void fail()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_.store(true);
        }
        turned_.notify_all();
    }

    const int source_, output_;
    const uint64_t origin_;  // where the text starts in the source
    const TextEncoding encoding_;
    std::mutex mutex_;
    std::condition_variable turned_;
    std::atomic<uint64_t> turn_{0};     // the chunk to be written next
    std::atomic<bool> ended_{false};    // the text ended (or could not be read on)
    std::atomic<bool> failed_{false};   // output failed: nothing more goes out
    uint64_t chunk_end_ = 0;            // where the chunks written so far end
};

}  // namespace

bool filter_in_lanes(int source, int output, RepairStream& first, std::string& read_error,
                     std::string& write_error)
{
    uint64_t offset;
    if (!offset_of(source, offset) || offset < piece)
        return false;
    size_t bom;
    TextEncoding encoding = announced_encoding(first.input_area(), piece, bom);
    Lanes lanes(source, offset - piece, output, encoding);
    RepairStream second;
    second.continue_text(encoding);
    std::thread other;
    try {
        other = std::thread([&] { lanes.run(1, second); });
    } catch (const std::system_error&) {
        return false;
    }
    lanes.run(0, first);
    other.join();
    if (lanes.end())
        move_to(source, offset - piece + lanes.end());
    read_error = lanes.read_error;
    write_error = lanes.write_error;
    return true;
}
