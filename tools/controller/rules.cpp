#include "controller/rules.h"

#include <algorithm>

#include "layoutkit/text.h"

namespace velto::controller {

const Rule* MatchRule(const std::vector<Rule>& rules, const Foreground& fg) {
  const std::string program = layoutkit::Lower(fg.program);
  const std::string windowClass = layoutkit::Lower(fg.windowClass);
  for (const Rule& r : rules) {
    if (!program.empty() && std::find(r.programs.begin(), r.programs.end(), program) != r.programs.end())
      return &r;
    if (!windowClass.empty() && std::any_of(r.classes.begin(), r.classes.end(), [&](const std::string& c) {
          return layoutkit::Lower(c) == windowClass;
        })) {
      return &r;
    }
  }
  return nullptr;
}

std::optional<UserState> RuleFollower::Enter(const Rule* rule, UserState now) {
  if (rule == nullptr) {
    active_.reset();
    if (!saved_) return std::nullopt;
    const UserState back = *saved_;
    saved_.reset();
    return back == now ? std::nullopt : std::optional(back);
  }
  if (active_ && active_->name == rule->name && active_->off == rule->off &&
      active_->layout == rule->layout) {
    return std::nullopt;
  }
  active_ = Active{rule->name, rule->off, rule->layout};
  if (!saved_) saved_ = now;
  UserState want = *saved_;
  if (rule->off) {
    want.on = false;
  } else {
    want.layout = static_cast<unsigned>(rule->layout);
  }
  return want == now ? std::nullopt : std::optional(want);
}

bool ElevationNotices::ShouldTell(bool veltoElevated, bool foregroundElevated, const std::string& program) {
  if (veltoElevated || !foregroundElevated) return false;
  return told_.insert(layoutkit::Lower(program)).second;
}

bool ElevationNotices::ShouldTellContained(bool appContainer, const std::string& program) {
  return appContainer && toldContained_.insert(layoutkit::Lower(program)).second;
}

}  // namespace velto::controller
