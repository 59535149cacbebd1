// This process's mapping of the named region.
#include "platform/platform.h"
#include "shared/region.h"

namespace velto {

namespace {

struct Attachment {
  platform::SharedMapping mapping;
  platform::SharedMapping compositions;
  Region region;
  FocusFacts focus;
};

constinit Attachment g_attachment;

Attachment& ThisProcess() { return g_attachment; }

}  // namespace

bool AttachRegion() {
  Attachment& self = ThisProcess();
  if (self.region.valid()) return true;
  self.mapping = platform::OpenSharedMemory(kRegionName, kRegionSize);
  if (self.mapping.view == nullptr) return false;
  // Without the composition table's mapping the library still types; its
  // composing layouts' dead keys then compose nothing.
  self.compositions = platform::OpenSharedMemory(kCompositionsName, kCompositionsSize);
  self.region = Region(self.mapping.view, self.compositions.view);
  self.focus = {};
  return true;
}

void DetachRegion() {
  Attachment& self = ThisProcess();
  if (self.mapping.view != nullptr || self.mapping.handle != 0) {
    platform::CloseSharedMemory(self.mapping, kRegionSize);
  }
  if (self.compositions.view != nullptr || self.compositions.handle != 0) {
    platform::CloseSharedMemory(self.compositions, kCompositionsSize);
  }
  self.mapping = {};
  self.compositions = {};
  self.region = Region();
  self.focus = {};
}

const Region& TheRegion() { return ThisProcess().region; }

FocusFacts& FocusFactsOfThisProcess() { return ThisProcess().focus; }

}  // namespace velto
