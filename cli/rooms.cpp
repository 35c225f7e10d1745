#include "cli/rooms.h"

#include "stream/stream.h"

StreamRooms::Room::~Room()
{
    if (rooms_)
        rooms_->taken_[slot_] = false;
}

uint8_t* StreamRooms::Room::bytes() const
{
    return rooms_ ? rooms_->pages_->data() + slot_ * slot_size() : nullptr;
}

// Each room starts on a cache line.
size_t StreamRooms::slot_size() { return (RepairStream::room_size() + 63) / 64 * 64; }

StreamRooms::Room StreamRooms::take(bool many_pieces)
{
    if (!pages_ && many_pieces)
        pages_.reset(new LargePages(count * slot_size()));
    if (!pages_ || !pages_->data())
        return Room(nullptr, 0);
    for (size_t slot = 0; slot < count; ++slot) {
        if (!taken_[slot]) {
            taken_[slot] = true;
            return Room(this, slot);
        }
    }
    return Room(nullptr, 0);
}
