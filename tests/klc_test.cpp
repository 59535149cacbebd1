// veltoc import-klc: the .klc files of tests/data/klc imported, compiled, and
// typed on the real engine over the simulated system, key by key and state by
// state, against what each file declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "layoutkit/codepage.h"
#include "layoutkit/text.h"
#include "layoutkit/klc_import.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "shared/compositions.h"
#include "simrun/simrun.h"
#include "veltoc/commands.h"

namespace velto {
namespace {

using layoutkit::Diagnostics;
using layoutkit::KlcImportOptions;
using simrun::KeyAction;

const std::string kDir = VELTO_SOURCE_DIR "/tests/data/klc/";
constexpr std::uint16_t kLeftShift = 0x2A, kRightAlt = 0x138, kSpace = 0x39;

std::string ReadData(const std::string& name) {
  std::vector<std::uint8_t> bytes;
  Diagnostics diags;
  EXPECT_TRUE(layoutkit::ReadFile(kDir + name, bytes, diags)) << diags.Text();
  return std::string(bytes.begin(), bytes.end());
}

// UTF-8 text as Windows' layout tool saves it: UTF-16LE with a BOM, CRLF.
std::string Utf16WithCrlf(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  const auto unit = [&](char32_t u) { out += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)}; };
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = layoutkit::NextUtf8(utf8, i);
    if (c == '\n') unit('\r');
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

struct Imported {
  bool ok = false;
  std::string vkl;
  std::string diags;
  layoutkit::KeyboardDescription d;
};

// Imports and compiles; on failure nothing may have been written.
Imported Import(const std::string& bytes, const std::string& name, const KlcImportOptions& options = {}) {
  Imported r;
  Diagnostics diags;
  r.ok = layoutkit::KlcToVkl(bytes, name, options, r.vkl, diags);
  r.diags = diags.Text();
  if (r.ok) {
    Diagnostics compile;
    EXPECT_TRUE(layoutkit::CompileVklText(r.vkl, name + ".vkl", r.d, compile)) << compile.Text() << r.vkl;
  } else {
    EXPECT_EQ(r.vkl, "");
  }
  return r;
}

// What a well-formed .klc declares, read here on its own terms.
struct Declared {
  struct Entry {
    char32_t ch = 0;  // 0: none (-1)
    bool dead = false;
    std::u32string ligature;
  };
  struct Key {
    std::uint16_t scan = 0;
    std::string cap;
    std::map<int, Entry> states, capsRow;
  };
  std::vector<Key> keys;
  std::map<char32_t, std::map<char32_t, char32_t>> dead;  // dead key -> base -> result
};

char32_t CharOf(std::string s) {
  if (!s.empty() && s.size() > 1 && s.back() == '@') s.pop_back();
  if (s.size() == 4) return static_cast<char32_t>(std::stoul(s, nullptr, 16));
  std::size_t pos = 0;
  return layoutkit::NextUtf8(s, pos);
}

Declared Read(const std::string& utf8) {
  Declared k;
  std::vector<int> states;
  std::map<std::pair<std::string, int>, std::u32string> ligatures;
  std::vector<std::tuple<std::size_t, int, std::string, int>> ligatureEntries;  // key, state, VK, column
  std::string section;
  char32_t dead = 0;
  std::istringstream in(utf8);
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, std::min(line.find("//"), line.find(';')));
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    if (w[0] == "SHIFTSTATE" || w[0] == "LAYOUT" || w[0] == "LIGATURE" || w[0] == "DEADKEY" ||
        w[0].rfind("KEYNAME", 0) == 0 || w[0] == "DESCRIPTIONS" || w[0] == "ENDKBD") {
      section = w[0];
      if (section == "DEADKEY") dead = CharOf(w[1]);
    } else if (section == "SHIFTSTATE") {
      states.push_back(std::stoi(w[0]));
    } else if (section == "LAYOUT" && w[0] == "-1") {
      for (std::size_t i = 3; i < w.size(); ++i)
        k.keys.back().capsRow[states[i - 3]] = {CharOf(w[i]), false, {}};
    } else if (section == "LAYOUT") {
      if (w[0] == "e0") w.erase(w.begin()), w[0] = "e0" + w[0];
      Declared::Key key;
      key.scan = static_cast<std::uint16_t>(
          std::stoul(w[0].size() == 4 ? w[0].substr(2) : w[0], nullptr, 16) | (w[0].size() == 4 ? 0x100 : 0));
      key.cap = w[2];
      for (std::size_t i = 3; i < w.size(); ++i) {
        if (w[i] == "%%") ligatureEntries.emplace_back(k.keys.size(), states[i - 3], w[1], i - 3);
        if (w[i] != "-1" && w[i] != "%%") key.states[states[i - 3]] = {CharOf(w[i]), w[i].back() == '@', {}};
      }
      k.keys.push_back(key);
    } else if (section == "LIGATURE") {
      for (std::size_t i = 2; i < w.size(); ++i) ligatures[{w[0], std::stoi(w[1])}] += CharOf(w[i]);
    } else if (section == "DEADKEY") {
      k.dead[dead][CharOf(w[0])] = CharOf(w[1]);
    }
  }
  for (const auto& [key, state, vk, column] : ligatureEntries) {
    std::u32string& text = k.keys[key].states[state].ligature;
    for (const char32_t c : ligatures[{vk, column}]) {  // UTF-16 halves joined
      if (c >= 0xDC00 && c < 0xE000 && !text.empty() && text.back() >= 0xD800 && text.back() < 0xDC00) {
        text.back() = 0x10000 + ((text.back() - 0xD800) << 10) + (c - 0xDC00);
      } else {
        text += c;
      }
    }
  }
  return k;
}

// Key events, and the text they should type.
struct Plan {
  std::vector<KeyAction> keys;
  std::string expected;

  // Taps `scan` in a shift state of the file: right Alt for AltGr, left Shift for Shift.
  void Tap(std::uint16_t scan, int state) {
    std::vector<std::uint16_t> mods;
    if ((state & 6) == 6) mods.push_back(kRightAlt);
    if (state & 1) mods.push_back(kLeftShift);
    for (const std::uint16_t m : mods) keys.push_back({m, false});
    keys.push_back({scan, false});
    keys.push_back({scan, true});
    for (auto m = mods.rbegin(); m != mods.rend(); ++m) keys.push_back({*m, true});
  }
};

// cp 0: a unicode layout, which has every character.
bool InCodePage(int cp, char32_t c) {
  return c >= 0x20 && c != 0x7F && (cp == 0 || layoutkit::EncodeChar(cp, c) >= 0);
}

constexpr int kStates[] = {0, 1, 6, 7};

// Every character of plain, Shift, AltGr and Shift+AltGr, without Caps Lock
// or with it, that the code page has: a dead key followed by Space types its
// own character, a ligature its characters.
Plan EveryKey(const Declared& k, bool caps, int cp) {
  Plan p;
  for (const Declared::Key& key : k.keys) {
    for (const int state : kStates) {
      int from = state;
      const bool swap = state < 2 ? key.cap == "1" || key.cap == "5" : key.cap == "4" || key.cap == "5";
      if (caps && swap) from ^= 1;
      const auto& row = caps && key.cap == "SGCap" && state < 2 ? key.capsRow : key.states;
      const auto e = row.find(from);
      if (e == row.end()) continue;
      std::string text;
      for (const char32_t c : e->second.ligature) {
        if (InCodePage(cp, c)) layoutkit::AppendUtf8(text, c);
      }
      if (e->second.ligature.empty() && InCodePage(cp, e->second.ch))
        layoutkit::AppendUtf8(text, e->second.ch);
      if (text.empty()) continue;
      p.Tap(key.scan, state);
      if (e->second.dead) p.Tap(kSpace, 0);
      p.expected += text;
    }
  }
  return p;
}

// Each dead key followed by each base character that a key types.
Plan DeadKeys(const Declared& k, int cp) {
  const auto find = [&](char32_t c, bool dead) -> std::pair<std::uint16_t, int> {
    for (const Declared::Key& key : k.keys) {
      for (const int state : kStates) {
        const auto e = key.states.find(state);
        if (e != key.states.end() && e->second.ch == c && e->second.dead == dead) return {key.scan, state};
      }
    }
    return {0, -1};
  };
  Plan p;
  for (const auto& [dead, rows] : k.dead) {
    const auto deadKey = find(dead, true);
    for (const auto& [base, result] : rows) {
      const auto baseKey = find(base, false);
      // Space always types the dead key's own character (EveryKey checks that).
      if (base == ' ' || deadKey.second < 0 || baseKey.second < 0 || !InCodePage(cp, result)) continue;
      if (!InCodePage(cp, dead) || !InCodePage(cp, base)) continue;
      p.Tap(deadKey.first, deadKey.second);
      p.Tap(baseKey.first, baseKey.second);
      layoutkit::AppendUtf8(p.expected, result);
    }
  }
  return p;
}

std::string Typed(const layoutkit::KeyboardDescription& d, const std::vector<KeyAction>& keys,
                  bool caps = false, unsigned layout = 1) {
  simrun::SimOptions options;
  options.layout = layout;
  options.capsLock = caps;
  options.numLock = true;
  options.keys = keys;
  const simrun::SimOutput out = simrun::Run(d, options);
  EXPECT_EQ(out.error, "");
  return out.text;
}

// Types every declared character of the file through the imported layout.
void ExpectTypesAsDeclared(const Imported& imported, const std::string& klc, int cp,
                           std::size_t minimumKeys) {
  ASSERT_TRUE(imported.ok) << imported.diags;
  const Declared k = Read(klc);
  for (const bool caps : {false, true}) {
    SCOPED_TRACE(caps ? "Caps Lock on" : "Caps Lock off");
    const Plan p = EveryKey(k, caps, cp);
    EXPECT_GE(p.keys.size(), minimumKeys * 2);
    EXPECT_EQ(Typed(imported.d, p.keys, caps), p.expected);
  }
  const Plan p = DeadKeys(k, cp);
  EXPECT_FALSE(p.keys.empty());
  EXPECT_EQ(Typed(imported.d, p.keys), p.expected);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool ClaimsRightAlt(const layoutkit::KeyboardDescription& d) {
  return (d.layouts[1].modMask & 1u << 3) != 0;
}

TEST(KlcImport, GermanTypesAsDeclaredFromUtf8AndUtf16) {
  const std::string klc = ReadData("de.klc");
  const Imported utf8 = Import(klc, "de.klc");
  EXPECT_EQ(utf8.diags, "");
  ExpectTypesAsDeclared(utf8, klc, 0, 100);
  EXPECT_TRUE(ClaimsRightAlt(utf8.d));
  EXPECT_EQ(Typed(utf8.d, {{0x15, false}, {0x15, true}}, false, 0), "y");  // layout 0 is the system's

  const Imported utf16 = Import(Utf16WithCrlf(klc), "de.klc");
  EXPECT_EQ(utf16.diags, "");
  EXPECT_EQ(utf16.vkl, utf8.vkl);
}

TEST(KlcImport, GermanReadsWell) {
  const std::string vkl = Import(ReadData("de.klc"), "tests/data/klc/de.klc").vkl;
  for (const char* part : {
           "# Imported by veltoc import-klc from de.klc:\n#   KBD GR \"German\"\n",
           "\nunicode\n\nlayout 0 \"US\" {\n  unicode\n}\n\nlayout 1 \"German\" {\n  unicode\n",
           "  claims ralt\n",
           "  caps letters\n",
           "  key GRAVE      dead:zirkumflex °\n",
           "  key 2          2 '\"'                  ralt: ²\n",
           "  key LBRACKET   ü Ü                                # left out: Ctrl U+001B\n",
           "  key RBRACKET   + *                    ralt: ~     # left out: Ctrl U+001D\n",
           "deadkey akut        ´  a á  e é",
       }) {
    EXPECT_NE(vkl.find(part), std::string::npos) << part << "\nnot in:\n" << vkl;
  }
}

TEST(KlcImport, FeaturesTypeAsDeclared) {
  // UTF-8 with a BOM and CRLF: SGCap, Cap 1, 4 and 5, ligatures, dead keys
  // on AltGr, extended keys, literal characters, Ctrl columns left out.
  const std::string klc = ReadData("features.klc");
  const Imported imported = Import(klc, "features.klc");
  EXPECT_EQ(
      imported.diags,
      "features.klc:1:12: warning: the layout name \"Velto Feature Test Layout\" is 25 characters; cut to "
      "\"Velto Feature Test L\" (at most 20)\n"
      "features.klc:31:25: warning: dead key U+00B8 has no DEADKEY section: it only types itself before "
      "Space\n"
      "features.klc:74:1: warning: after a dead key Space types the dead key's own character; this row is "
      "left out\n");
  ExpectTypesAsDeclared(imported, klc, 0, 40);
  EXPECT_TRUE(ClaimsRightAlt(imported.d));
  for (const char* part :
       {"key Q          q Q                    ralt: œ Œ                caps: å Å ralt: œ Œ\n",
        "caps=shift\n", "caps=altgr\n", "caps=shift+altgr\n", "# left out: Shift+Ctrl ligature\n",
        "key NUM_DIV    ÷ ÷\n", "key INS        ¶ §\n", "ralt: U+00A0", "deadkey acute      '\\''  a á",
        "macro lig-h-shift \"Ch\"\n"}) {
    EXPECT_NE(imported.vkl.find(part), std::string::npos) << part << "\nnot in:\n" << imported.vkl;
  }
}

// A code page is only what --codepage asks for: a unicode layout has them all.
TEST(KlcImport, UnmappableCharactersAreErrorsOrLeftOut) {
  const std::string klc = ReadData("unmappable.klc");
  const Imported unicode = Import(klc, "unmappable.klc");
  EXPECT_EQ(unicode.diags, "");
  ExpectTypesAsDeclared(unicode, klc, 0, 10);

  const char* const places[] = {"13:18: %s: U+00E4", "13:23: %s: U+00C4", "20:10: %s: U+00FC",
                                "23:6: %s: U+00E0", "24:6: %s: U+00F6"};
  for (const bool skip : {false, true}) {
    KlcImportOptions options;
    options.skipUnmappable = skip;
    options.codePage = skip ? 1251 : layoutkit::kCodePageOfLocale;  // 0419: 1251
    const Imported imported = Import(klc, "unmappable.klc", options);
    std::string expected;
    for (const char* place : places) {
      char line[96];
      std::snprintf(line, sizeof line, place, skip ? "warning" : "error");
      expected += "unmappable.klc:" + std::string(line) + " is not in code page 1251" +
                  (skip ? "; left out\n" : "\n");
    }
    EXPECT_EQ(imported.diags, expected);
    EXPECT_EQ(imported.ok, skip);
    if (!skip) continue;
    ExpectTypesAsDeclared(imported, klc, 1251, 8);
    EXPECT_NE(imported.vkl.find("\ncodepage 1251\n"), std::string::npos) << imported.vkl;
  }
}

TEST(KlcImport, MalformedInputReportsEveryErrorAndWritesNothing) {
  const Imported imported = Import(ReadData("malformed.klc"), "malformed.klc");
  EXPECT_FALSE(imported.ok);
  EXPECT_EQ(
      imported.diags,
      "malformed.klc:3:1: error: unknown section \"SURPRISE\"\n"
      "malformed.klc:9:1: error: too few columns: a LAYOUT row has the scan code, VK, Cap and 3 entries, "
      "one for each shift state\n"
      "malformed.klc:10:1: error: bad hex number \"1g\" for a scan code\n"
      "malformed.klc:11:10: error: bad entry \"00zz\": a 4-digit hex code point or one character, -1, %% or "
      "a dead key (@)\n"
      "malformed.klc:12:6: error: bad Cap \"3\": 0, 1, 4, 5 or SGCap\n"
      "malformed.klc:13: error: this SGCap row is not followed by its Caps Lock row (-1 -1 0 ...)\n"
      "malformed.klc:15:8: error: this %% has no LIGATURE row (U, column 0)\n"
      "malformed.klc:19:1: error: unknown section \"BOGUS\"\n"
      "malformed.klc:21:10: error: a ligature cannot hold '{': in a macro it opens a key chord\n"
      "malformed.klc:21: error: ENDKBD is missing at the end of the file\n");
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

// The other errors and warnings, each with its place. Every case has a
// header of eight lines: KBD, LOCALEID, SHIFTSTATE 0 1 6, LAYOUT and one row.
TEST(KlcImport, EveryMessageWithItsPlace) {
  const std::string head =
      "KBD T \"Test\"\nLOCALEID \"00000409\"\nSHIFTSTATE\n0\n1\n6\nLAYOUT\n1e A 1 a A -1\n";
  const std::string end = "ENDKBD\n";
  std::string many = "KBD T \"T\"\nLOCALEID \"00000409\"\nSHIFTSTATE\n0\nLAYOUT\n";
  for (int scan = 0; scan < 128; ++scan)
    many += std::to_string(scan / 16) + "0123456789abcdef"[scan % 16] + " V 0 a\n";
  many += "DEADKEY 0060\n";
  for (int row = 0; row < 257; ++row) many += "0061 00e0\n";
  const struct {
    std::string text;
    const char* diags;
  } cases[] = {
      {head +
           "1e B 1 b B -1\n1f S 1 s S -1 -1\n-1 -1 0 x\n10 Q SGCap q Q -1\n-1 x\n11 W SGCap w W -1\n"
           "-1 -1 0 %%\n12 E SGCap e E -1\n-1 -1 0 a b c d\n" +
           end,
       "t.klc:9:1: error: scan code 1e is given twice (first at line 8)\n"
       "t.klc:10:15: error: too many columns: a LAYOUT row has the scan code, VK, Cap and 3 entries, one for "
       "each shift state\n"
       "t.klc:11:1: error: a row that starts with -1 belongs after an SGCap row\n"
       "t.klc:13:1: error: the Caps Lock row of an SGCap key reads -1 -1 0 and its characters\n"
       "t.klc:15:9: error: a ligature (%%) cannot stand in the Caps Lock row of an SGCap key\n"
       "t.klc:17:15: error: too many columns: the Caps Lock row has at most one entry for each shift "
       "state\n"},
      {head +
           "DEADKEY\n0061 00e0\nDEADKEY 0060\n0061\n0061 00e0 00e1\n-1 0061\n0065 %%\n0069 00ec@\n0g1 0061\n"
           "0061 0g1\nDEADKEY 0060\n" +
           end,
       "t.klc:9:1: error: DEADKEY takes the dead key's character (4 hex digits)\n"
       "t.klc:12:1: error: too few columns: a DEADKEY row has the base character and the result\n"
       "t.klc:13:11: error: too many columns: a DEADKEY row has the base character and the result\n"
       "t.klc:14:1: error: the base of a DEADKEY row is a character\n"
       "t.klc:15:6: error: the result of a DEADKEY row is a character\n"
       // A dead key chained to one without a section of its own.
       "t.klc:16:6: warning: dead key U+00EC has no DEADKEY section: it only types itself before Space\n"
       "t.klc:17:1: error: bad hex number \"0g1\"\n"
       "t.klc:18:6: error: bad hex number \"0g1\"\n"
       "t.klc:19:9: error: a second DEADKEY section for U+0060\n"},
      {head + "LIGATURE\nA\nA x a\nA 0 -1\nA 1 a\nA 1 b\n" + end,
       "t.klc:10:1: error: too few columns: a LIGATURE row has the VK, the shift state column and the "
       "characters\n"
       "t.klc:11:3: error: bad shift state column \"x\"\n"
       "t.klc:12:5: error: a ligature is made of characters\n"
       "t.klc:14:1: error: a second LIGATURE row for A column 1\n"},
      {head + "LIGATURE\nA 0 a b\nB 1 a b\n" + end,
       "t.klc:10:1: error: the LAYOUT row of A (line 8) has no %% in shift state column 0\n"
       "t.klc:11:1: error: no LAYOUT row has the VK B\n"},
      {head + "1f S 0 %% -1 -1\nLIGATURE\nS 0 a 0009\n" + end,
       "t.klc:11:7: error: a macro cannot type the control character U+0009\n"},
      {head + "1f S 0 d83d %% %%\nLIGATURE\nS 1 0061 de00\nS 2" + Repeat(" a", 256) + "\n" + end,
       "t.klc:9:8: error: U+D83D is one half of a UTF-16 pair: a character beyond U+FFFF is written as a "
       "ligature of both\n"
       "t.klc:11:10: error: U+DE00 is one half of a UTF-16 pair: a character beyond U+FFFF is written as a "
       "ligature of both\n"
       "t.klc:12:1: error: a ligature of 256 characters: a macro types at most 255\n"},
      {head + "KEYNAME\n0g Esc\n01\nKEYNAME_DEAD\n0060\nATTRIBUTES\nFANCY\n\xC3(\n" + end,
       "t.klc:10:1: error: bad hex number \"0g\"\n"
       "t.klc:11:1: error: too few columns: a row of this section has a number and a name\n"
       "t.klc:13:1: error: too few columns: a KEYNAME_DEAD row has the dead key's character and its name\n"
       "t.klc:15:1: error: unknown attribute or section \"FANCY\"\n"
       "t.klc:16: error: this line is neither UTF-16 nor UTF-8 text\n"},
      {"KBD T\nKBD T \"T\"\nKBD U \"U\"\nLOCALEID\nLOCALEID "
       "\"0000zz09\"\nCOMPANY\nstray\n1234\nSHIFTSTATE\n0\n1 2\n"
       "0\n9x\n16\nSHIFTSTATE\nLAYOUT\n" +
           end,
       "t.klc:1:1: error: the KBD line reads KBD NAME \"DESCRIPTION\"\n"
       "t.klc:3:1: error: a second KBD line\n"
       "t.klc:4:1: error: LOCALEID needs a value (\"00000407\")\n"
       "t.klc:5:10: error: bad hex number \"0000zz09\" for a LOCALEID\n"
       "t.klc:6:1: error: COMPANY needs a value\n"
       "t.klc:7:1: error: unknown section \"stray\"\n"
       "t.klc:8:1: error: a line outside any section\n"
       "t.klc:11:3: error: one shift state a line\n"
       "t.klc:12:1: error: shift state 0 is listed twice\n"
       "t.klc:13:1: error: bad shift state \"9x\": 0 to 15\n"
       "t.klc:14:1: error: bad shift state \"16\": 0 to 15\n"
       "t.klc:15:1: error: a second SHIFTSTATE section\n"},
      {"LAYOUT\n1e A 1 a\n" + end,
       "t.klc:1:1: error: LAYOUT comes before any SHIFTSTATE, which gives its columns\n"
       "t.klc: error: no KBD line (KBD NAME \"DESCRIPTION\")\n"
       "t.klc: error: no SHIFTSTATE section\n"},
      {"",
       "t.klc: error: ENDKBD is missing at the end of the file\n"
       "t.klc: error: no KBD line (KBD NAME \"DESCRIPTION\")\n"
       "t.klc: error: no SHIFTSTATE section\n"
       "t.klc: error: no LAYOUT section\n"},
      {many + end,
       "t.klc:133: error: more than 127 keys: a layout has room for 127\n"
       "t.klc:391:1: error: more than 256 dead-key rows: the library's table holds 256\n"},
  };
  for (const auto& c : cases) {
    const Imported imported = Import(c.text, "t.klc");
    EXPECT_FALSE(imported.ok);
    EXPECT_EQ(imported.diags, c.diags) << c.text;
  }
}

// Devanagari, of no code page, imports without options: a dead key, a
// ligature, and U+1F600 written as its two UTF-16 halves, which is one key
// character and no macro.
TEST(KlcImport, DevanagariAndBeyondUffffTypeAsDeclared) {
  const std::string klc = ReadData("hi.klc");
  const Imported imported = Import(klc, "hi.klc");
  EXPECT_EQ(imported.diags, "");
  ExpectTypesAsDeclared(imported, klc, 0, 25);
  for (const char* part : {"layout 1 \"हिन्दी (परीक्षण)\" {\n  unicode\n",
                           "key E          ा आ               ralt: 😀\n",
                           "macro lig-backslash-plain \"क्ष\"\n", "deadkey dead-093c  ़  क क़"}) {
    EXPECT_NE(imported.vkl.find(part), std::string::npos) << part << "\nnot in:\n" << imported.vkl;
  }
  EXPECT_EQ(Count(imported.vkl, "\nmacro "), 1u);
}

// 255 different characters fit a unicode layout; the 256th is an error at
// its place.
TEST(KlcImport, UnicodeLayoutHoldsAtMost255Characters) {
  std::string klc = "KBD T \"\u0400\"\nSHIFTSTATE\n0\n1\n6\n7\nLAYOUT\n";  // the name counts too
  char row[64];
  for (unsigned key = 0; key < 64; ++key) {  // U+0400 to U+04FF, four to a key
    std::snprintf(row, sizeof row, "%02x V 0 %04x %04x %04x %04x\n", key + 1, 0x400 + 4 * key,
                  0x401 + 4 * key, 0x402 + 4 * key, 0x403 + 4 * key);
    klc += row;
  }
  const Imported tooMany = Import(klc + "ENDKBD\n", "t.klc");
  EXPECT_FALSE(tooMany.ok);
  EXPECT_EQ(
      tooMany.diags,
      "t.klc:71:23: error: the layout uses 256 different characters, and a unicode layout holds at most "
      "255: U+04FF is the 256th; leave keys out, or import with --codepage\n");
  klc.replace(klc.size() - 5, 4, "-1");
  const Imported fits = Import(klc + "ENDKBD\n", "t.klc");
  EXPECT_TRUE(fits.ok) << fits.diags;
}

TEST(KlcImport, LayoutAndCodePageOptions) {
  const std::string klc = ReadData("de.klc");
  KlcImportOptions options;
  options.codePage = 1250;  // over LOCALEID 0407; 1250 has no ² or ³
  const std::string errors = Import(klc, "de.klc", options).diags;
  EXPECT_EQ(errors.substr(0, errors.find('\n', errors.find('\n') + 1) + 1),
            "de.klc:25:19: error: U+00B2 is not in code page 1250\n"
            "de.klc:26:19: error: U+00B3 is not in code page 1250\n");
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 16);  // and 14 results of dead keys

  options = {};
  options.layout = 0;
  const Imported zero = Import(klc, "de.klc", options);
  EXPECT_EQ(zero.vkl.find("\"US\""), std::string::npos);
  EXPECT_EQ(Typed(zero.d, {{0x15, false}, {0x15, true}}, false, 0), "z");

  options.layout = 2;
  EXPECT_EQ(
      Import(klc, "de.klc", options).diags,
      "de.klc: error: the imported layout is layout 0 or 1: layouts 2 and 3 have no keys of their own\n");
  options = {};
  options.codePage = 437;
  EXPECT_EQ(Import(klc, "de.klc", options).diags,
            "de.klc: error: code page 437 is none a layout can have: 874 or 1250 to 1258\n");
  EXPECT_EQ(layoutkit::CodePageOfLanguage(0x0C1A), 1251);  // Serbian in Cyrillic, unlike Croatian
  EXPECT_EQ(layoutkit::CodePageOfLanguage(0x041A), 1250);
}

// A DEADKEY row whose result is a dead key (@) chains: after it the keys go
// on as after that dead key. The table the compiler builds says so; a
// code-page layout cannot hold it.
TEST(KlcImport, ChainedDeadKeysImportAsChains) {
  const std::string klc =
      "KBD T \"Chains\"\nSHIFTSTATE\n0\n1\nLAYOUT\n"
      "1e A 1 a A\n29 OEM_3 0 0060@ 005e@\n"
      "DEADKEY 0060\n0061 00e0\n005e 1dc5@\n"
      "DEADKEY 005e\n0061 00e2\n"
      "DEADKEY 1dc5\n0061 1ea7\n"
      "KEYNAME_DEAD\n0060 \"GRAVE\"\n005e \"CIRCUMFLEX\"\n1dc5 \"GRAVE-CIRCUMFLEX\"\nENDKBD\n";
  const Imported imported = Import(klc, "chains.klc");
  ASSERT_TRUE(imported.ok) << imported.diags;
  EXPECT_EQ(imported.diags, "");
  EXPECT_NE(imported.vkl.find("deadkey grave             `  ^ dead:grave-circumflex\n"), std::string::npos)
      << imported.vkl;
  const layoutkit::KeyboardDescription& d = imported.d;
  const Compositions table(d.compositions.data(), d.compositions.size());
  ASSERT_TRUE(table.valid());
  const auto step = [&](std::uint32_t state, char32_t input) { return table.Step(state, input); };
  // Dead keys by declaration: grave, circumflex, grave-circumflex.
  const std::uint32_t grave = step(0, kDeadKeyInputs).state;
  const ComposeStep chained = step(grave, U'^');
  ASSERT_EQ(chained.kind, ComposeStep::kState);
  EXPECT_EQ(chained.state, step(0, kDeadKeyInputs + 2).state);
  const ComposeStep text = step(chained.state, U'a');
  ASSERT_EQ(text.kind, ComposeStep::kText);
  EXPECT_EQ(text.text[0], 0x1EA7u);  // ầ

  KlcImportOptions options;
  options.codePage = 1252;
  EXPECT_NE(Import(klc, "chains.klc", options).diags.find(
                "chains.klc:10:6: error: a dead key chained to another (U+1DC5@) needs a unicode layout: import "
                "without --codepage\n"),
            std::string::npos);
}

// veltoc import-klc: its exit statuses, messages, and nothing written on error.
TEST(KlcImport, Command) {
  const std::string out = ::testing::TempDir() + "klc_test_out.vkl";
  std::remove(out.c_str());
  const auto run = [](std::vector<std::string> args, std::string& err) {
    ::testing::internal::CaptureStderr();
    const int status = velto::veltoc::ImportKlc(args, "USAGE\n");
    err = ::testing::internal::GetCapturedStderr();
    return status;
  };
  std::string err;
  EXPECT_EQ(run({kDir + "de.klc", "-o", out}, err), 0);
  EXPECT_EQ(err, "");
  std::vector<std::uint8_t> written;
  Diagnostics diags;
  ASSERT_TRUE(layoutkit::ReadFile(out, written, diags)) << diags.Text();
  EXPECT_EQ(std::string(written.begin(), written.end()), Import(ReadData("de.klc"), "de.klc").vkl);

  std::remove(out.c_str());
  EXPECT_EQ(run({kDir + "malformed.klc", "-o", out}, err), 1);
  EXPECT_NE(err.find("malformed.klc:3:1: error: unknown section \"SURPRISE\"\n"), std::string::npos) << err;
  std::FILE* f = std::fopen(out.c_str(), "rb");
  EXPECT_EQ(f, nullptr);
  if (f != nullptr) std::fclose(f);

  EXPECT_EQ(run({kDir + "de.klc"}, err), 2);
  EXPECT_EQ(err, "veltoc: import-klc: no output file given (-o FILE)\nUSAGE\n");
  EXPECT_EQ(run({kDir + "de.klc", "-o", out, "--layout", "3"}, err), 2);
  EXPECT_EQ(
      err,
      "veltoc: import-klc: layouts 2 and 3 have no keys of their own: import into layout 0 or 1\nUSAGE\n");
  EXPECT_EQ(run({kDir + "de.klc", "-o", out, "--codepage", "437"}, err), 2);
  EXPECT_EQ(err, "veltoc: import-klc: unknown code page '437': use 874, 1250 to 1258 or locale\nUSAGE\n");
  EXPECT_EQ(run({kDir + "hi.klc", "-o", out, "--codepage", "locale"}, err), 1);
  EXPECT_EQ(err.substr(err.find("hi.klc:")), "hi.klc:4:10: error: locale 0439 has no Windows code page\n");
  EXPECT_EQ(run({kDir + "de.klc", "-o", out, "--frob"}, err), 2);
  EXPECT_EQ(err, "veltoc: import-klc: unknown option '--frob'\nUSAGE\n");
  std::remove(out.c_str());
}

}  // namespace
}  // namespace velto
