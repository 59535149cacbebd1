// The message-retrieval hook: delivers translated keystrokes in the thread
// that retrieves messages.
#pragma once

#include <cstdint>

#include "shared/region.h"

namespace velto {

// The character a dead key and the following character make: the first
// matching row of the DeadKeyTable; a space always gives the dead character
// itself; 0 when nothing matches. The bytes are of the character set of
// layout `setLayout`, or ANSI bytes for -1.
std::uint8_t CombineDeadKey(const Region& region, std::uint8_t dead, std::uint8_t next, int setLayout = -1);

// Delivers what is pending, in order, as far as it can now: plays the
// ActionQueue, goes on with a macro longer than the queue, and turns the
// KeyQueue's results into output one after the other. Stops while playback
// waits for its marker to come back (keys typed meanwhile wait behind it),
// and does nothing while another thread holds the player's turn.
void DeliverPending(const Region& region);

}  // namespace velto
