#include "layoutkit/xkb_rules.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "layoutkit/text.h"

namespace velto::layoutkit::xkb {

namespace {

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

enum Column { kModel, kLayout, kVariant, kOption, kUnknown };

// %l, %v, %m, %(v), %+l, %_v, ...: the value with the names put in.
std::string Expand(const std::string& value, const Names& names) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%' || i + 1 >= value.size()) {
      out += value[i];
      continue;
    }
    char prefix = 0, suffix = 0;
    std::size_t j = i + 1;
    if (std::string_view("(+|_-").find(value[j]) != std::string_view::npos) {
      prefix = value[j];
      if (prefix == '(') suffix = ')';
      ++j;
    }
    if (j >= value.size()) break;
    const char what = value[j++];
    if (j < value.size() && value[j] == '[') {  // an index: this reader has one layout
      const std::size_t close = value.find(']', j);
      j = close == std::string::npos ? value.size() : close + 1;
    }
    if (suffix != 0 && j < value.size() && value[j] == suffix) ++j;
    const std::string& name = what == 'l' ? names.layout : what == 'v' ? names.variant : names.model;
    if ((what == 'l' || what == 'v' || what == 'm') && !name.empty()) {
      if (prefix != 0) out += prefix;
      out += name;
      if (suffix != 0) out += suffix;
    }
    i = j - 1;
  }
  return out;
}

bool IsMergePrefix(char c) { return c == '+' || c == '|'; }

// As xkbcomp joins the values of several rules: "+bar" after "foo" gives
// "foo+bar", "bar" before "+foo" gives "bar+foo", "bar" after "foo" is
// dropped.
void Append(std::string& to, const std::string& value) {
  if (value.empty()) return;
  if (IsMergePrefix(value[0]) || to.empty()) {
    to += value;
  } else if (IsMergePrefix(to[0])) {
    to = value + to;
  }
}

}  // namespace

bool ResolveRules(const std::string& path, const Names& names, Components& out, Diagnostics& diags,
                  std::vector<std::string>* unmatched) {
  std::ifstream in(path, std::ios::binary);
  diags.NoteFile(path);
  if (!in) {
    diags.Error(path, 0, 0, "cannot read this rules file");
    return false;
  }
  std::map<std::string, std::vector<std::string>> groups;
  std::vector<bool> optionMatched(names.options.size(), false);
  std::vector<Column> columns;
  std::string* target = nullptr;
  bool skipSection = true, hasOption = false;
  std::string line;
  for (std::string raw; std::getline(in, raw);) {
    const std::size_t comment = raw.find("//");
    if (comment != std::string::npos) raw.resize(comment);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (!raw.empty() && raw.back() == '\\') {
      raw.pop_back();
      line += raw + " ";
      continue;
    }
    line += raw;
    const std::vector<std::string> words = Words(line);
    line.clear();
    if (words.empty()) continue;
    const auto eq = std::find(words.begin(), words.end(), "=");
    if (words[0] == "!") {
      if (words.size() > 1 && words[1][0] == '$' && eq != words.end()) {  // ! $group = a b c
        groups[words[1]].assign(eq + 1, words.end());
        continue;
      }
      columns.clear();
      target = nullptr;
      skipSection = true;
      hasOption = false;
      if (eq == words.end() || eq + 2 != words.end()) continue;  // include lines and the like
      bool indexed = false;
      for (auto w = words.begin() + 1; w != eq; ++w) {
        indexed = indexed || w->find('[') != std::string::npos;
        columns.push_back(*w == "model" ? kModel : *w == "layout" ? kLayout : *w == "variant" ? kVariant
                          : *w == "option" ? kOption : kUnknown);
        hasOption = hasOption || columns.back() == kOption;
      }
      const std::string& kind = *(eq + 1);
      target = kind == "keycodes" ? &out.keycodes : kind == "types" ? &out.types : kind == "compat" ? &out.compat
               : kind == "symbols" ? &out.symbols : nullptr;
      // Sections of layout[N] serve keyboards of several layouts.
      skipSection = indexed || target == nullptr ||
                    std::find(columns.begin(), columns.end(), kUnknown) != columns.end();
      continue;
    }
    if (skipSection || eq == words.end() || static_cast<std::size_t>(eq - words.begin()) != columns.size() ||
        eq + 2 != words.end()) {
      continue;
    }
    bool matched = true;
    std::vector<std::size_t> options;
    for (std::size_t i = 0; i < columns.size() && matched; ++i) {
      const std::string& pattern = words[i];
      const auto matches = [&](const std::string& value) {
        if (pattern == "*") return true;
        if (pattern[0] == '$') {
          const auto g = groups.find(pattern);
          return g != groups.end() && std::find(g->second.begin(), g->second.end(), value) != g->second.end();
        }
        return pattern == value;
      };
      if (columns[i] == kOption) {
        matched = false;
        for (std::size_t o = 0; o < names.options.size(); ++o) {
          if (matches(names.options[o])) {
            options.push_back(o);
            matched = true;
            break;
          }
        }
      } else {
        matched = matches(columns[i] == kModel ? names.model : columns[i] == kLayout ? names.layout : names.variant);
      }
    }
    if (!matched) continue;
    for (const std::size_t o : options) optionMatched[o] = true;
    Append(*target, Expand(*(eq + 1), names));
    // The first rule that matches settles a section, but for options,
    // each of which may have a rule of its own.
    if (!hasOption) skipSection = true;
  }
  for (std::size_t o = 0; o < names.options.size(); ++o) {
    if (optionMatched[o]) continue;
    diags.Warning(path, 0, 0, "no rule knows the option \"" + names.options[o] + "\"; it is left out");
    if (unmatched != nullptr) unmatched->push_back(names.options[o]);
  }
  if (out.symbols.empty()) {
    diags.Error(path, 0, 0, "no rule gives symbols for layout \"" + names.layout + "\"");
    return false;
  }
  return true;
}

}  // namespace velto::layoutkit::xkb
