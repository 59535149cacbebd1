#include "layoutkit/keyboard_geometry.h"

namespace velto::layoutkit {

std::vector<KeyCap> KeyboardKeys(bool ansi) {
  std::vector<KeyCap> keys;
  keys.push_back({0x01, 0, 0, 1});
  for (int i = 0; i < 12; ++i) {  // F1..F10, F11, F12 in groups of four
    const auto scan = static_cast<std::uint16_t>(i < 10 ? 0x3B + i : 0x57 + i - 10);
    keys.push_back({scan, 2 + i + i / 4 * 0.5, 0, 1});
  }
  double x = 0, y = 1 + kFunctionRowGap;
  auto add = [&](std::uint16_t scan, double w) {
    keys.push_back({scan, x, y, w});
    x += w;
  };
  auto run = [&](std::uint16_t first, std::uint16_t last) {
    for (unsigned scan = first; scan <= last; ++scan) add(static_cast<std::uint16_t>(scan), 1);
  };
  auto next = [&] {
    x = 0;
    y += 1;
  };
  add(0x29, 1);
  run(0x02, 0x0D);
  add(0x0E, 2);
  next();
  add(0x0F, 1.5);
  run(0x10, 0x1B);
  if (ansi) {
    add(0x2B, 1.5);
  } else {
    keys.push_back({0x1C, x, y, 1.5, true});
  }
  next();
  add(0x3A, 1.75);
  run(0x1E, 0x28);
  add(ansi ? 0x1C : 0x2B, ansi ? 2.25 : 1);
  next();
  if (ansi) {
    add(0x2A, 2.25);
  } else {
    add(0x2A, 1.25);
    add(0x56, 1);
  }
  run(0x2C, 0x35);
  add(0x36, 2.75);
  next();
  for (const std::uint16_t scan : {0x1D, 0x15B, 0x38}) add(scan, 1.25);
  add(0x39, 6.25);
  for (const std::uint16_t scan : {0x138, 0x15C, 0x15D, 0x11D}) add(scan, 1.25);
  return keys;
}

KeyBox KeySide(double x, double y, double w) {
  return {x + kKeyGap, y + kKeyGap, w * kKeyUnit - 2 * kKeyGap, kKeyUnit - 2 * kKeyGap};
}

KeyBox KeyFaceBox(double x, double y, double w, bool isoEnter) {
  if (isoEnter) {
    const double x2 = x + w * kKeyUnit;
    return {x + kKeyGap + kFaceLeft, y + kKeyGap + kFaceTop, x2 - x - 2 * kKeyGap - kFaceLeft - kFaceRight,
            kKeyUnit - 2 * kKeyGap - kFaceTop - kFaceBottom};
  }
  const KeyBox side = KeySide(x, y, w);
  return {side.x + kFaceLeft, side.y + kFaceTop, side.w - kFaceLeft - kFaceRight,
          side.h - kFaceTop - kFaceBottom};
}

std::vector<std::pair<double, double>> IsoEnterOutline(double x, double y, double w, double l, double t,
                                                       double r, double b) {
  const double x0 = x, x1 = x + 0.25 * kKeyUnit, x2 = x + w * kKeyUnit;
  const double y0 = y, y1 = y + kKeyUnit, y2 = y + 2 * kKeyUnit;
  const double g = kKeyGap;
  return {{x0 + g + l, y0 + g + t}, {x2 - g - r, y0 + g + t}, {x2 - g - r, y2 - g - b},
          {x1 + g + l, y2 - g - b}, {x1 + g + l, y1 - g - b}, {x0 + g + l, y1 - g - b}};
}

LabelSpot SpotOf(const KeyBox& face, const KeyLabel& label) {
  const double size = label.kind == LabelKind::kName         ? 10
                      : label.small                          ? 9.5
                      : label.place == LabelPlace::kTopRight ? 12
                                                             : 15;
  if (label.place == LabelPlace::kTopRight) return {face.x + face.w - 4, face.y + 13, size, true};
  if (label.place == LabelPlace::kBottomLeft)
    return {face.x + 5, face.y + face.h - (label.small ? 6 : 5), size};
  return {face.x + 5, face.y + (label.small ? 12 : 15), size};
}

const KeyLabel* TypingLabel(const KeyFace& face, bool leftShift, bool rightShift) {
  const LabelPlace wanted = !leftShift && !rightShift ? LabelPlace::kBottomLeft : LabelPlace::kTopLeft;
  const KeyLabel* found = nullptr;
  for (const KeyLabel& l : face.labels) {
    if (l.kind == LabelKind::kName) continue;
    if (l.place == wanted && found == nullptr) found = &l;
    if (l.place == LabelPlace::kTopRight && rightShift && !leftShift) return &l;
  }
  return found;
}

}  // namespace velto::layoutkit
