// Keys typed while the output of earlier keys is still on its way: they
// wait behind it, in the order typed, rather than overtake it.
#pragma once

#include "shared/key_event.h"
#include "shared/keys.h"
#include "shared/region.h"

namespace velto {

// Holds back a key that would go its normal way while output is pending:
// queued behind that output, as the character the system types for it with
// the keys as they stand now, or else as the key press itself (a key that
// types no character, or only a control character). The release of a key
// held back as a press, while that press still waits, waits behind it.
// Keys with Ctrl, Alt or a Windows key held, the modifiers and the lock keys
// are left alone: they command rather than type. Returns the kind queued,
// or -1 when the key goes its way.
//
// A key the system takes with Alt down while the user holds no Alt is typed
// so too: Alt is then the library's own, pressed again after a macro's keys
// for a user who let go of it meanwhile and not yet let go again, and the
// system would make the key a WM_SYSKEYDOWN, which types nothing.
namespace detail {
int HoldBack(const Region& region, const KeyEvent& e);
}  // namespace detail
inline int HoldBack(const Region& region, const KeyEvent& e) {
  const ControlBlock& cb = region.control();
  // As good as always nothing is on its way and Alt is as the user holds it.
  const bool quiet = cb.actQEmpty != 0 && cb.keyQEmpty != 0 && cb.macroCursor == 0 && cb.playbackWait == 0 &&
                     cb.playerBusy == 0 && region.queues().postedPress == 0;
  if (quiet && (!e.altDown || (cb.modifiers & kAltMask) != 0)) return -1;
  return detail::HoldBack(region, e);
}

}  // namespace velto
