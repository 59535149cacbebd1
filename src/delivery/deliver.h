// Delivery of what the keyboard hook queued: TranslationResults become
// ActionQueue entries (characters, dead keys combined, macros expanded), and
// the player plays them, in the thread that runs a hook or the timer.
#pragma once

#include <cstdint>

#include "platform/platform.h"
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
namespace detail {
void DeliverPendingNow(const Region& region);
}  // namespace detail
inline void DeliverPending(const Region& region) {
  const ControlBlock& cb = region.control();
  // As good as always nothing is pending: the check costs only a few loads.
  if (cb.actQEmpty != 0 && cb.keyQEmpty != 0 && cb.macroCursor == 0) return;
  detail::DeliverPendingNow(region);
}

// Whether message `msg` (lParam `lParam`) being retrieved is the key press
// the player posted last (QueueArea::postedPress). Then it is no longer
// awaited, and what waits behind it goes on at the next message: one posted
// to this thread now comes after the character TranslateMessage is about to
// post for the press.
bool TakesPostedPress(const Region& region, std::uint32_t msg, platform::LParam lParam);

}  // namespace velto
