// Badges: stored in the layout record, or made of the layout's name.
#include "layoutkit/badge.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl_syntax.h"

namespace velto::layoutkit {

namespace {

struct Run {
  char32_t first, last;
};

constexpr Run kLetters[] = {
#include "layoutkit/letters.inc"
};

bool Capital(char32_t c) { return vkl::UpperCase(c) == c && vkl::OtherCase(c) != c; }
bool LowerCase(char32_t c) { return vkl::UpperCase(c) != c; }

}  // namespace

bool IsLetterOrDigit(char32_t c) {
  const auto* it = std::upper_bound(std::begin(kLetters), std::end(kLetters), c,
                                    [](char32_t v, const Run& r) { return v < r.first; });
  return it != std::begin(kLetters) && c <= std::prev(it)->last;
}

std::optional<std::string> StoredBadge(const LayoutRecord& record) {
  const auto* bytes = record.reserved + kBadgeReserved;
  const std::size_t length = static_cast<std::size_t>(std::find(bytes, bytes + kBadgeBytes, 0) - bytes);
  if (length == 0 || std::any_of(bytes + length, bytes + kBadgeBytes, [](std::uint8_t b) { return b != 0; })) {
    return std::nullopt;
  }
  const std::string text(reinterpret_cast<const char*>(bytes), length);
  // Decoded and encoded again, so that only the UTF-8 the statement writes
  // passes (no overlong forms, no broken sequences, which decode as U+FFFD).
  std::string again;
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) {
    const char32_t c = NextUtf8(text, pos);
    if (!IsLetterOrDigit(c)) return std::nullopt;
    AppendUtf8(again, c);
  }
  if (count > kBadgeChars || again != text) return std::nullopt;
  return text;
}

void StoreBadge(LayoutRecord& record, std::string_view utf8) {
  std::uint8_t* bytes = record.reserved + kBadgeReserved;
  std::memset(bytes, 0, kBadgeBytes);
  std::memcpy(bytes, utf8.data(), std::min(utf8.size(), kBadgeBytes));
}

std::string LayoutName(const KeyboardDescription& d, unsigned layout) {
  std::string name;
  if (layout >= kLayouts) return name;
  for (const char c : d.layouts[layout].name) {
    if (c == '\0') break;
    const char32_t ch = LayoutChar(d, layout, static_cast<std::uint8_t>(c));
    AppendUtf8(name, ch == 0 ? U'\uFFFD' : ch);
  }
  return name;
}

std::string LayoutBadge(const KeyboardDescription& d, unsigned layout) {
  if (layout >= kLayouts) return "";
  if (auto stored = StoredBadge(d.layouts[layout])) return *stored;
  const std::string name = LayoutName(d, layout);
  std::vector<std::u32string> words(1);
  for (std::size_t pos = 0; pos < name.size();) {
    const char32_t c = NextUtf8(name, pos);
    if (IsLetterOrDigit(c)) {
      words.back() += c;
    } else if (!words.back().empty()) {
      words.emplace_back();
    }
  }
  if (words.back().empty()) words.pop_back();
  if (words.empty()) return std::to_string(layout);

  const std::u32string& first = words[0];
  std::u32string badge;
  if (first.size() >= 2 && first.size() <= kBadgeChars && std::none_of(first.begin(), first.end(), LowerCase) &&
      std::any_of(first.begin(), first.end(), Capital)) {
    badge = first;
    if (words.size() > 1 && badge.size() < kBadgeChars) badge += vkl::UpperCase(words[1][0]);
  } else if (words.size() > 1) {
    for (std::size_t i = 0; i < words.size() && i < kBadgeChars; ++i) badge += vkl::UpperCase(words[i][0]);
  } else {
    for (std::size_t i = 0; i < first.size() && i < 2; ++i) badge += vkl::UpperCase(first[i]);
  }
  std::string out;
  for (const char32_t c : badge) AppendUtf8(out, c);
  return out;
}

}  // namespace velto::layoutkit
