// The memory that glyphmend-cli's streams read their pieces into. A piece
// is read straight into its stream's room, and each 4 KiB page that a read
// writes first is a page fault: on the virtual machines measured about
// 13 us each, so that the first pieces of a 64 MiB file's two threads took
// about 2 ms of its 13. The rooms of the streams that a text uses at once
// share one large page instead, which is faulted in at once. A small text
// writes only a few pages of a room, which cost less than a large page, so
// the large page is made when the first text of many pieces asks for a
// room, and kept for the texts after it.
#pragma once

#include "cli/system.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class StreamRooms {
public:
    // The most streams a text uses at once: --check's first stream and one
    // for each of two threads.
    static constexpr size_t count = 3;

    // A room for RepairStream, held until the Room goes: null when there
    // is none to give, and the stream then makes its own.
    class Room {
    public:
        ~Room();
        Room(const Room&) = delete;
        Room& operator=(const Room&) = delete;

        uint8_t* bytes() const;

    private:
        friend class StreamRooms;
        Room(StreamRooms* rooms, size_t slot) : rooms_(rooms), slot_(slot) {}
        StreamRooms* rooms_;
        size_t slot_;
    };

    // A free room, in the large page when `many_pieces` says that the text
    // fills more than a piece, or the page was made already.
    Room take(bool many_pieces);

private:
    static size_t slot_size();

    std::unique_ptr<LargePages> pages_;
    bool taken_[count] = {};
};
