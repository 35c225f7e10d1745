// The plain filter (no word rule, no findings) of a regular file on two
// threads. The text is cut after line ends into chunks: chunk k runs from
// just after the first line end at or after k pieces into the text to just
// after the first one at or after k + 1 pieces. A line end leaves nothing
// that the plain repair of the lines after it depends on, so each thread's
// stream takes its chunks as one text of its own. The threads take every
// other chunk: each finds its chunk's start, reads the chunk at its own
// offsets and repairs it while the other does the same, and writes it in
// its turn.
#pragma once

#include "stream/stream.h"

#include <string>

// `first` holds the first piece, a whole piece, in its input area; nothing
// of it was repaired yet. Returns false, having done nothing, when `source`
// cannot be read at any offset or no second thread could start.
// `read_error` tells why the source could not be read to its end (what was
// read is still written), `write_error` why `output` failed.
bool filter_in_lanes(int source, int output, RepairStream& first, std::string& read_error,
                     std::string& write_error);
