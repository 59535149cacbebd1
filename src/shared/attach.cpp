// This process's mapping of the named region.
#include "platform/platform.h"
#include "shared/region.h"

namespace velto {

namespace {

struct Attachment {
  platform::SharedMapping mapping;
  Region region;
  ForegroundClass foreground;
};

constinit Attachment g_attachment;

Attachment& ThisProcess() { return g_attachment; }

}  // namespace

bool AttachRegion() {
  Attachment& self = ThisProcess();
  if (self.region.valid()) return true;
  self.mapping = platform::OpenSharedMemory(kRegionName, kRegionSize);
  if (self.mapping.view == nullptr) return false;
  self.region = Region(self.mapping.view);
  self.foreground = {};
  return true;
}

void DetachRegion() {
  Attachment& self = ThisProcess();
  if (self.mapping.view != nullptr || self.mapping.handle != 0) {
    platform::CloseSharedMemory(self.mapping, kRegionSize);
  }
  self.mapping = {};
  self.region = Region();
  self.foreground = {};
}

const Region& TheRegion() { return ThisProcess().region; }

ForegroundClass& ForegroundClassOfThisProcess() { return ThisProcess().foreground; }

}  // namespace velto
