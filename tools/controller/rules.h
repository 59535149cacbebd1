// Rules per program: which rule the foreground window falls under, and what
// the controller does on the way in and out of it. No Windows here: the
// controller feeds it what it sees.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "controller/settings.h"

namespace velto::controller {

// The window in front: its program's file name (lower case) and its class.
struct Foreground {
  std::string program;
  std::string windowClass;
};

// The first rule that names the program or the window's class (both without
// regard to case, as Windows compares them), or null.
const Rule* MatchRule(const std::vector<Rule>& rules, const Foreground& fg);

// What a user can switch: translation on or off, and the active layout.
struct UserState {
  bool on = true;
  unsigned layout = 0;
  bool operator==(const UserState&) const = default;
};

// Follows the foreground from rule to rule. Entering a program with a rule
// keeps what the user had and applies the rule; leaving it for a program
// without one gives the user's state back. The rule is applied only on the
// way in, so a hotkey or menu choice made inside the program lasts until the
// user leaves it; going from one window to another under the same rule is
// not leaving.
class RuleFollower {
 public:
  // The foreground now falls under `rule` (null: none), with the library in
  // state `now`. Returns the state to set, if it is to change.
  std::optional<UserState> Enter(const Rule* rule, UserState now);

  // The rules were read again: the next Enter applies its rule afresh, and
  // the user's own state is still given back on the way out.
  void RulesChanged() { active_.reset(); }

  // The user's own state while a rule holds; what is in force otherwise.
  std::optional<UserState> saved() const { return saved_; }

 private:
  struct Active {
    std::string name;
    bool off;
    int layout;
  };
  std::optional<Active> active_;
  std::optional<UserState> saved_;
};

// Whether to tell the user, once per program, that the program in front runs
// with more rights than Velto (as administrator), which a hook of a normal
// program does not reach, so its keys go untranslated.
class ElevationNotices {
 public:
  bool ShouldTell(bool veltoElevated, bool foregroundElevated, const std::string& program);
  // A program in an AppContainer (a Store app), once: Windows loads no global
  // hook's library into it, whatever Velto's rights.
  bool ShouldTellContained(bool appContainer, const std::string& program);

 private:
  std::set<std::string> told_, toldContained_;
};

}  // namespace velto::controller
