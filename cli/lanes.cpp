#include "cli/lanes.h"

#include "cli/system.h"
#include "stream/words.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t piece = RepairStream::piece_size;
// How much a thread reads at first while it looks for a line end.
constexpr size_t look_size = 16 * 1024;
// How far apart chunks start: a little less than a piece, so that a
// chunk's first piece mostly reaches the line end that ends it.
constexpr uint64_t stride = piece - look_size;
// The most findings a chunk keeps before its turn: past them the thread
// waits for its turn and hands them on as it repairs.
constexpr size_t kept_findings = 4096;
constexpr size_t none = SIZE_MAX;
// With the word rule, a word reads as far as context_reach bytes back across
// line ends, in the text that the letter table's repairs leave, which are at
// most half as long as what they repair: this many bytes before a chunk
// leave enough.
constexpr size_t prime_size = 4 * WordStage::context_reach;
const char changed[] = "changed while it was read";

// Where the bytes after the first line end in [bytes, bytes + size) start,
// or none. `at` is where `bytes` lies in the text: a UTF-16 line end is the
// unit 0x000A on the grid of units that starts with the text.
size_t after_first_line_end(const uint8_t* bytes, size_t size, uint64_t at, TextEncoding encoding)
{
    if (encoding == TextEncoding::utf8) {
        const void* line_end = std::memchr(bytes, '\n', size);
        return line_end ? size_t(static_cast<const uint8_t*>(line_end) - bytes) + 1 : none;
    }
    // Bytes 0x0A are few in UTF-16 text, whatever its lines' length, so
    // each is found by memchr and then tested on the grid.
    size_t low = encoding == TextEncoding::utf16be ? 1 : 0, first = size_t(at % 2);
    for (const uint8_t* p = bytes; const void* found = std::memchr(p, '\n', size_t(bytes + size - p));) {
        size_t byte = size_t(static_cast<const uint8_t*>(found) - bytes), unit = byte - low;
        p = static_cast<const uint8_t*>(found) + 1;
        if (byte >= first + low && (unit - first) % 2 == 0 && unit + 2 <= size && bytes[unit + 1 - low] == 0)
            return unit + 2;
    }
    return none;
}

// Whose turn it is to hand on a chunk, and what the chunks before it left.
class Turns {
public:
    // Waits for the turn of chunk `chunk`; false once the text ended or
    // handing on failed. A turn comes within a chunk's time, and putting a
    // thread to sleep and waking it costs about as long, so the thread
    // first gives way to others a while. (A pause instruction in the loop
    // made virtual machines take the processor away for far longer.)
    bool take(uint64_t chunk)
    {
        auto ready = [&] { return turn_.load() == chunk || ended_.load() || failed_.load(); };
        for (int spin = 0; spin < 20000 && !ready(); ++spin)
            std::this_thread::yield();
        if (!ready()) {
            std::unique_lock<std::mutex> lock(mutex_);
            turned_.wait(lock, ready);
        }
        return !ended_.load() && !failed_.load();
    }

    // Chunk `chunk` is handed on, with `lines` more line ends; the text
    // goes on after `end` unless `last`.
    void pass(uint64_t chunk, uint64_t end, uint64_t lines, bool last)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            end_ = end;
            lines_ += lines;
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

    // Read in the turn only: where the chunks handed on end, and the line
    // ends before it.
    uint64_t end() const { return end_; }
    uint64_t lines() const { return lines_; }
    // Where the text ended, once it did.
    uint64_t text_end() const { return ended_.load() && !failed_.load() ? end_ : 0; }

private:
    std::mutex mutex_;
    std::condition_variable turned_;
    std::atomic<uint64_t> turn_{0};
    std::atomic<bool> ended_{false};   // the text ended, or could not be read on
    std::atomic<bool> failed_{false};  // handing on failed: nothing more goes out
    uint64_t end_ = 0;
    uint64_t lines_ = 0;
};

// A thread's own findings, from its stream, which has read only its own
// chunks: kept until the chunk's turn, then handed on where they lie in the
// whole text.
class ChunkFindings final : public FindingSink {
public:
    ChunkFindings(Turns& turns, FindingSink* out) : turns_(turns), out_(out) {}

    // A chunk starts `at` in the text, when the stream has read `read`
    // bytes and is on line `line`.
    void start(uint64_t chunk, uint64_t at, uint64_t read, uint64_t line)
    {
        chunk_ = chunk, at_ = at, read_ = read, line_ = line;
        turn_ = false;
    }

    // Takes the chunk's turn, if it has not yet, and hands on what waits.
    bool take_turn()
    {
        if (!turn_ && !turns_.take(chunk_))
            return false;
        turn_ = true;
        for (const Finding& finding : kept_)
            hand_on(finding);
        kept_.clear();
        return true;
    }

    void found(const Finding& finding) override
    {
        if (!turn_ && kept_.size() < kept_findings)
            return kept_.push_back(finding);
        if (take_turn())
            hand_on(finding);
    }
    void found_twin(const TwinFinding&) override {}

private:
    void hand_on(Finding finding)
    {
        finding.at.line = finding.at.line - line_ + 1 + turns_.lines();
        finding.at.byte_offset = finding.at.byte_offset - read_ + at_;
        out_->found(finding);
    }

    Turns& turns_;
    FindingSink* out_;
    std::vector<Finding> kept_;
    uint64_t chunk_ = 0, at_ = 0, read_ = 0, line_ = 1;
    bool turn_ = false;
};

// One thread's chunks, from the first byte of its first chunk on, in a
// stream of its own or in the one given: without findings, whose lines each
// stream counts for itself, thread 0 goes on in the stream that took chunk
// 0. A new stream's buffer costs a page fault a page as it is first read
// into, unless it lies in a large page, and on the virtual machines
// measured a fault took about 13 us, as long as copying fifty pages.
struct Lane {
    Lane(Turns& turns, FindingSink* out, TextEncoding encoding, bool words, RepairStream* given,
         uint8_t* room)
        : findings(turns, out),
          own(given ? nullptr : new RepairStream(out ? &findings : nullptr, words, room)),
          stream(given ? *given : *own)
    {
        if (!given)
            stream.continue_text(encoding);
    }
    ChunkFindings findings;
    std::unique_ptr<RepairStream> own;
    RepairStream& stream;
    uint64_t read = 0;  // bytes it took so far
};

class Lanes {
public:
    Lanes(int source, uint64_t origin, TextEncoding encoding, bool words, FindingSink* findings,
          const std::function<bool(ByteSpan)>& emit)
        : source_(source),
          origin_(origin),
          encoding_(encoding),
          words_(words),
          findings_(findings),
          emit_(emit)
    {
    }

    // Runs thread `index` (0 or 1); chunk 0, which thread 0 takes, is in
    // `first` already, which reports straight to the findings' sink. A
    // stream of the thread's own is made in `room`.
    void run(int index, RepairStream& first, uint8_t* room)
    {
        RepairStream* given = index == 0 && !findings_ ? &first : nullptr;
        Lane lane(turns_, findings_, encoding_, words_, given, room);
        std::unique_ptr<uint8_t[]> look(new uint8_t[look_size]);
        for (uint64_t chunk = uint64_t(index);; chunk += 2) {
            uint64_t start = 0;
            std::string error;
            Start found = chunk == 0 ? Start::found : find_start(chunk, look.get(), start, error);
            if (found == Start::found && chunk != 0 && words_ && !prime(start, lane.stream, error))
                found = Start::trouble;
            if (found == Start::found) {
                if (!(chunk == 0 ? repair_first(first) : repair_chunk(chunk, start, lane)))
                    return;
                continue;
            }
            // Normally the chunk before ended the text, or took this one's
            // stride whole; otherwise the file changed while it was read.
            if (!turns_.take(chunk))
                return;
            if (found == Start::none) {
                turns_.pass(chunk, turns_.end(), 0, false);
                continue;
            }
            read_error = found == Start::trouble ? error : changed;
            return turns_.pass(chunk, turns_.end(), 0, true);
        }
    }

    uint64_t text_end() const { return turns_.text_end(); }

    std::string read_error;

private:
    enum class Start { found, none, end, trouble };

    // Where chunk `chunk` starts: found, or none when its stride holds no
    // line end, or the end of the text before any.
    Start find_start(uint64_t chunk, uint8_t* look, uint64_t& start, std::string& error)
    {
        for (uint64_t at = chunk * stride, limit = at + stride; at < limit;) {
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

    // With the word rule, the stream first takes the bytes before the chunk
    // that its first words read back into. They end with a line end, so
    // their repaired text is final at once, and it is dropped.
    bool prime(uint64_t start, RepairStream& stream, std::string& error)
    {
        long got = read_at(source_, stream.input_area(), prime_size, origin_ + start - prime_size, error);
        if (got != long(prime_size)) {
            error = got < 0 ? error : changed;
            return false;
        }
        stream.repair(prime_size, false);
        return true;
    }

    // Chunk 0: its turn comes first, and its stream reads from the text's
    // start, so its findings go straight on.
    bool repair_first(RepairStream& stream)
    {
        uint64_t size = 0;
        return repair(0, 0, stream, [&] { return turns_.take(0); }, size);
    }

    bool repair_chunk(uint64_t chunk, uint64_t start, Lane& lane)
    {
        lane.findings.start(chunk, start, lane.read, lane.stream.line());
        uint64_t size = 0;
        bool more = repair(chunk, start, lane.stream, [&] { return lane.findings.take_turn(); }, size);
        lane.read += size;
        return more;
    }

    // Reads, repairs and hands on chunk `chunk`, from `start` to just after
    // the first line end at or after the next chunk's stride, or to the
    // text's end, and tells its `size`; false when the thread is done.
    // `take_turn` waits for the chunk's turn.
    template <class TakeTurn>
    bool repair(uint64_t chunk, uint64_t start, RepairStream& stream, TakeTurn take_turn, uint64_t& size)
    {
        // A stream that reports tells its line; the text's first is 1.
        uint64_t at = start, limit = (chunk + 1) * stride;
        uint64_t first_line = chunk == 0 ? 1 : stream.line();
        bool turn = false;
        size_t look = look_size;
        for (;;) {
            uint8_t* area = stream.input_area();
            size_t want = at < limit ? piece : look;
            std::string error;
            // The first piece of the text is in the area already.
            long got = chunk == 0 && at == 0 ? long(piece) : read_at(source_, area, want, origin_ + at, error);
            size_t read = got > 0 ? size_t(got) : 0, cut = read;
            bool last = read < want, chunk_ends = last;
            if (at + read > limit && got >= 0) {
                size_t from = at < limit ? size_t(limit - at) : 0;
                size_t after = after_first_line_end(area + from, read - from, at + from, encoding_);
                if (after != none) {
                    cut = from + after;
                    chunk_ends = true;
                    last = false;
                }
            }
            ByteSpan repaired = stream.repair(cut, last);
            if (!turn) {
                if (!take_turn())
                    return false;
                turn = true;
                if (start != turns_.end()) {
                    read_error = changed;
                    turns_.pass(chunk, turns_.end(), 0, true);
                    return false;
                }
            }
            if (!emit_(repaired)) {
                turns_.fail();
                return false;
            }
            at += cut;
            if (chunk_ends) {
                read_error = error;
                size = at - start;
                turns_.pass(chunk, at, findings_ ? stream.line() - first_line : 0, last);
                return !last;
            }
            // Past the limit a line end most often comes soon; a long line
            // is read on in ever larger pieces.
            if (want == look)
                look = std::min<size_t>(2 * look, piece);
        }
    }

    const int source_;
    const uint64_t origin_;  // where the text starts in the source
    const TextEncoding encoding_;
    const bool words_;
    FindingSink* const findings_;
    const std::function<bool(ByteSpan)>& emit_;
    Turns turns_;
};

}  // namespace

bool repair_in_lanes(int source, RepairStream& first, StreamRooms& rooms, bool words,
                     FindingSink* findings, const std::function<bool(ByteSpan)>& emit,
                     std::string& read_error)
{
    uint64_t offset;
    if ((words && findings) || !offset_of(source, offset) || offset < piece)
        return false;
    size_t bom;
    TextEncoding encoding = announced_encoding(first.input_area(), piece, bom);
    Lanes lanes(source, offset - piece, encoding, words, findings, emit);
    // Each thread's stream of its own, if it needs one, in a room of its own.
    StreamRooms::Room first_room = rooms.take(true), second_room = rooms.take(true);
    ProcessorPair processors;
    std::thread other;
    try {
        other = std::thread([&] {
            processors.hold_second();
            lanes.run(1, first, second_room.bytes());
        });
    } catch (const std::system_error&) {
        return false;
    }
    processors.hold_first();
    lanes.run(0, first, first_room.bytes());
    other.join();
    if (lanes.text_end())
        move_to(source, offset - piece + lanes.text_end());
    read_error = lanes.read_error;
    return true;
}
