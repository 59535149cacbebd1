// The description built into the programs where no file is given: layout 0
// the US keyboard left to the system, layout 1 the international layout
// (layouts/intl.vkl, compiled when the programs are built).
#pragma once

#include "layoutkit/layout_builder.h"

namespace velto::layoutkit {

const KeyboardDescription& DefaultDescription();

}  // namespace velto::layoutkit
