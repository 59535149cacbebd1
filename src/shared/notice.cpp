#include "shared/notice.h"

#include <algorithm>

#include "platform/platform.h"

namespace velto {

void PostChangeNotices(const Region& region) {
  ControlBlock& cb = region.control();
  const std::size_t count = std::min<std::size_t>(cb.clientCount, kMaxClients);
  for (std::size_t i = 0; i < count; ++i) {
    platform::PostMessage(cb.clients[i], cb.notifyMsg, cb.changeFlags, cb.lastKeyInfo);
  }
  cb.changeFlags = 0;
}

void PostKeyNotice(const Region& region) {
  const ControlBlock& cb = region.control();
  const std::uint32_t target = cb.currentKR != 0 ? cb.currentKR : cb.clients[0];
  // A null window would post into the hooked thread's own queue instead.
  if (target == 0) return;
  platform::PostMessage(target, cb.notifyMsg, kKeyNoticeWParam, cb.lastKeyInfo);
}

}  // namespace velto
