#include "simharness/library.h"

#include "control/exports.h"

namespace velto::simharness {

bool AttachLibrary(Attach how) {
  if (how == Attach::kRegion) return AttachRegion();
  ProcessAttach();
  return TheRegion().valid();
}

void DetachLibrary(Attach how) {
  if (how == Attach::kRegion) {
    DetachRegion();
  } else {
    ProcessDetach();
  }
}

Blocks BlocksOf(const layoutkit::KeyboardDescription& d) {
  return {&d.options, &d.keys, d.layouts, &d.deadKeys, d.LastBlock()};
}

Blocks BlocksOfCompiled(const void* bytes) {
  const char* p = static_cast<const char*>(bytes);
  return {p, p + (kKeyTableOffset - kOptionOffset), p + (kLayoutOffset - kOptionOffset),
          p + (kDeadKeyOffset - kOptionOffset), p + (kMacroOffset - kOptionOffset)};
}

void HandOver(const Blocks& blocks) {
  SetupKeyboard(blocks.options, blocks.keys, blocks.layouts, blocks.deadKeys, blocks.macros);
}

}  // namespace velto::simharness
