// The engine as an application's thread meets it, on the null platform, and
// the key streams the benchmarks and the instruction counts type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velto::bench {

struct KeyEvent {
  std::uint16_t scan;  // 9-bit
  bool up;
};

struct Stream {
  std::vector<KeyEvent> events;
  std::size_t keys = 0;  // key presses other than Shift
  std::string text;      // what it types, in UTF-8
};

// Loads a compiled description ("layouts/de": a .vkb file by its path in the
// build tree) into the region as a controller would, with `layout`
// selected, translation on and one controller window registered. Exits with
// a message when the file cannot be read.
void SetUpEngine(const std::string& vkbName, int layout);

// German text with capitals, umlauts, ß and acute accents typed through the
// dead key, on the German keyboard, `keys` key presses long (Shift around
// the capitals not counted).
Stream GermanStream(std::size_t keys);
// Lower-case letters and spaces only: no Shift, no dead key.
Stream PlainStream(std::size_t keys);
// The dead acute accent followed by a vowel, `pairs` times.
Stream DeadKeyStream(std::size_t pairs);
// Compositions through the composition table of bench/compose.vkl (the
// whole en_US Compose file): the compose key and two letters, or the dead
// acute accent and a vowel, `compositions` times.
Stream ComposeStream(std::size_t compositions);
// Keys that no layout translates (the function keys F1..F10).
Stream PassedStream(std::size_t keys);

// Types the stream: each event goes in and the application takes everything
// that follows from it before the next.
void Type(const Stream& stream);

// The timer's tick, as often as it takes until the action queue is empty and
// no macro waits, with the application taking what the player sends after
// each tick. Returns the number of ticks.
std::size_t TickUntilPlayed();

// ISO-8859-1/Windows-1252 bytes (below 0x80 and the Latin-1 letters) as UTF-8.
std::string Latin1ToUtf8(const std::string& bytes);

}  // namespace velto::bench
