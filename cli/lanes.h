// The repair of a regular file on two threads, for the filter and for
// --check. The text is cut after line ends into chunks: chunk k runs from
// just after the first line end at or after k strides (a little less than a
// piece) into the text to just after the first one at or after k + 1
// strides. A line end leaves nothing that the plain repair of the lines
// after it depends on, so each thread's stream takes its chunks as one text
// of its own; with the word rule, whose words read the text before them
// across line ends, it first takes the bytes before each chunk that they
// read. The threads take every other chunk: each finds its chunk's start,
// reads the chunk at its own offsets and repairs it while the other does
// the same, and hands it on in its turn.
#pragma once

#include "cli/rooms.h"
#include "stream/stream.h"

#include <functional>
#include <string>

// `first` holds the first piece, a whole piece, in its input area; nothing
// of it was repaired yet; `words` says whether it applies the word rule,
// which takes no findings. `emit` takes the repaired text, piece by piece
// and in order, and returns false to stop. With `findings` (first's sink),
// every look-alike goes to it in text order, where it lies in the whole
// text. Returns false, having done nothing, when `source` cannot be read at
// any offset or no second thread could start; `read_error` then tells why
// the source could not be read to its end (what was read is still handed
// on). The threads' own streams take their rooms from `rooms`.
bool repair_in_lanes(int source, RepairStream& first, StreamRooms& rooms, bool words,
                     FindingSink* findings, const std::function<bool(ByteSpan)>& emit,
                     std::string& read_error);
