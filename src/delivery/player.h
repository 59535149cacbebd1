// The action player: turns ActionQueue entries into posted messages and,
// through own_keys.h, synthesized key events.
#pragma once

#include "shared/region.h"

namespace velto {

// Plays entries until the queue is empty or the release of marker 0xC5 has
// been sent (the rest waits until that marker has come back through the
// keyboard hook). Does nothing while another run is under way.
void PlayActions(const Region& region);

// The player's turn (`playerBusy`), taken and given back atomically since
// threads of different processes share the region. Whoever holds it is the
// only one to play, to go on with a macro or to drain the key queue.
bool TakePlayerTurn(const Region& region);
void GivePlayerTurnBack(const Region& region);
// PlayActions for the holder of the turn.
void PlayActionsInTurn(const Region& region);

}  // namespace velto
