// libX11's Compose files read into the keyboard language, against
// libxkbcommon's compose tables: the system's files as they come, and
// en_US.UTF-8's sequences typed through the table the compiler builds.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "layoutkit/compose_file.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_model.h"
#include "shared/compositions.h"

namespace velto::layoutkit {
namespace {

// What a composition table types for a dead key or the compose key and
// the keys after it, as the engine walks it; nullopt where it never ends
// in a text.
std::optional<std::u32string> Walk(const Compositions& table, char32_t start, const std::vector<char32_t>& keys) {
  ComposeStep step = table.Step(0, start);
  for (const char32_t key : keys) {
    if (step.kind != ComposeStep::kState) return std::nullopt;
    step = table.Step(step.state, key);
  }
  if (step.kind != ComposeStep::kText) return std::nullopt;
  return std::u32string(step.text, step.text + step.length);
}

TEST(ComposeFile, EverySystemFileReadsWithoutErrors) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSystemComposeDir)) {
    const std::string path = entry.path().string() + "/Compose";
    if (!std::filesystem::exists(path)) continue;
    ++files;
    Diagnostics diags;
    compiler::Reporter report(diags);
    compiler::Model model;
    EXPECT_TRUE(compiler::ReadComposeFile(path, "en_US.UTF-8", model, report)) << path;
    EXPECT_FALSE(diags.HasErrors()) << diags.Text();
  }
  EXPECT_GT(files, 50);
  EXPECT_EQ(SystemComposeFile("en_US.UTF-8"), std::string(kSystemComposeDir) + "/en_US.UTF-8/Compose");
  EXPECT_EQ(SystemComposeFile("xx_XX.nothing"), "");
}

struct XkbCompose {
  XkbCompose() {
    // Only the system file, whatever the user's own.
    ::setenv("XCOMPOSEFILE", SystemComposeFile("en_US.UTF-8").c_str(), 1);
    context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    table.reset(xkb_compose_table_new_from_locale(context.get(), "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS));
  }
  // The text libxkbcommon composes of the keysyms; empty if none.
  std::string Feed(const std::vector<xkb_keysym_t>& keysyms) const {
    std::unique_ptr<xkb_compose_state, decltype(&xkb_compose_state_unref)> state(
        xkb_compose_state_new(table.get(), XKB_COMPOSE_STATE_NO_FLAGS), xkb_compose_state_unref);
    for (const xkb_keysym_t k : keysyms) xkb_compose_state_feed(state.get(), k);
    if (xkb_compose_state_get_status(state.get()) != XKB_COMPOSE_COMPOSED) return "";
    char text[1024];
    xkb_compose_state_get_utf8(state.get(), text, sizeof text);
    return text;
  }
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context{nullptr, xkb_context_unref};
  std::unique_ptr<xkb_compose_table, decltype(&xkb_compose_table_unref)> table{nullptr, xkb_compose_table_unref};
};

// Every sequence of en_US.UTF-8 that Velto keeps types, through the table
// the compiler builds behind a compose key, what libxkbcommon composes of
// the same keys. A character's keysym is its legacy one or its Unicode
// one: where a Compose file names one character by both (approximate and
// U223C), Velto keeps the first.
TEST(ComposeFile, EnUsTypesWhatLibxkbcommonComposes) {
  const XkbCompose xkb;
  ASSERT_NE(xkb.table, nullptr);
  const std::string source = "unicode\nlayout 1 {\n  key APP compose\n}\ncompose include \"%L\"\n";
  KeyboardDescription d;
  Diagnostics diags;
  ASSERT_TRUE(CompileVklText(source, "compose.vkl", d, diags)) << diags.Text();
  EXPECT_EQ(diags.all().size(), 0u) << diags.Text();
  const Compositions table(d.compositions.data(), d.compositions.size());
  ASSERT_TRUE(table.valid());

  // The sequences as read, and each dead key's input by the compiler's
  // numbering: the order the model declares them in.
  compiler::Model model;
  compiler::Reporter report(diags);
  ASSERT_TRUE(compiler::ReadComposeFile("%L", "en_US.UTF-8", model, report));
  std::map<std::string, char32_t> deadInput;
  for (std::size_t n = 0; n < model.deadOrder.size(); ++n) {
    deadInput[model.deadOrder[n]] = kDeadKeyInputs + static_cast<char32_t>(n);
  }
  const auto keysymsOf = [](const compiler::ComposeInput& in, bool unicode) -> xkb_keysym_t {
    switch (in.kind) {
      case compiler::ComposeInput::kComposeKey:
        return XKB_KEY_Multi_key;
      case compiler::ComposeInput::kDead:
        return xkb_keysym_from_name(("dead_" + in.name).c_str(), XKB_KEYSYM_NO_FLAGS);
      case compiler::ComposeInput::kChar:
        break;
    }
    return unicode && in.ch.code >= 0x100 ? 0x1000000 + in.ch.code : xkb_utf32_to_keysym(in.ch.code);
  };
  std::size_t checked = 0;
  for (const compiler::Sequence& q : model.sequences) {
    std::string want;
    for (const bool unicode : {false, true}) {
      std::vector<xkb_keysym_t> keysyms{keysymsOf(q.start, unicode)};
      for (const auto& in : q.inputs) keysyms.push_back(keysymsOf(in, unicode));
      std::string text;
      for (const auto& c : q.result.text) AppendUtf8(text, c.code);
      if (xkb.Feed(keysyms) == text) want = text;
    }
    std::vector<char32_t> keys;
    for (const auto& in : q.inputs) {
      keys.push_back(in.kind == compiler::ComposeInput::kChar   ? in.ch.code
                     : in.kind == compiler::ComposeInput::kDead ? deadInput.at(in.name)
                                                                : kComposeKeyInput);
    }
    const char32_t start =
        q.start.kind == compiler::ComposeInput::kComposeKey ? kComposeKeyInput : deadInput.at(q.start.name);
    const std::optional<std::u32string> typed = Walk(table, start, keys);
    ASSERT_TRUE(typed.has_value()) << "line " << q.pos.line;
    std::string text;
    for (const char32_t c : *typed) AppendUtf8(text, c);
    EXPECT_EQ(text, want) << "line " << q.pos.line << " of en_US.UTF-8's Compose file";
    ++checked;
  }
  // Nearly every line of the file: the rest have keys that type nothing.
  EXPECT_GT(checked, 4000u);
}

// A user's file includes the system's and overrides some of it, which is
// no conflict; within one file a repeated or longer sequence is an error
// at the Compose file's own place, and so is an unknown keysym.
TEST(ComposeFile, OverridesAndErrorsWithTheirPlace) {
  const std::string dir = ::testing::TempDir() + "compose_file_test/";
  std::filesystem::create_directories(dir);
  const auto write = [&](const std::string& name, const std::string& text) {
    Diagnostics ignored;
    EXPECT_TRUE(WriteFile(dir + name, std::vector<std::uint8_t>(text.begin(), text.end()), ignored));
  };
  write("user.XCompose",
        "include \"%L\"   # the system's\n"
        "<Multi_key> <a> <apostrophe> : \"Z\"\n"
        "<Multi_key> <o> <c> <c> : \"\\xc2\\251\\n\"   # longer than the system's <o> <c>\n");
  write("broken.XCompose",
        "include \"user.XCompose\"\n"
        "<Multi_key> <b> <bogus> : \"x\"\n"
        "<Multi_key> <q> <q> : \"1\"\n"
        "<Multi_key> <q> : \"2\"\n"
        "<Multi_key> <w> <w> : \"3\"\n"
        "<Multi_key> <w> <w> <w> : \"4\"\n"
        "<Multi_key> <Left> <a> : \"left out\"\n"
        "<Multi_key> <x> <x> : \"\"\n");
  const std::string head = "unicode\nlayout 1 {\n  key APP compose\n}\n";
  KeyboardDescription d;
  Diagnostics diags;
  ASSERT_TRUE(CompileVklText(head + "compose include \"" + dir + "user.XCompose\"\n", dir + "t.vkl", d, diags))
      << diags.Text();
  const Compositions table(d.compositions.data(), d.compositions.size());
  EXPECT_EQ(Walk(table, kComposeKeyInput, {U'a', U'\''}), U"Z");
  EXPECT_EQ(Walk(table, kComposeKeyInput, {U'o', U'c', U'c'}), U"©\n");
  EXPECT_EQ(Walk(table, kComposeKeyInput, {U'o', U'c'}), std::nullopt);  // goes on, typing nothing yet
  EXPECT_EQ(Walk(table, kComposeKeyInput, {U'e', U'\''}), U"é");         // the system's

  Diagnostics errors;
  EXPECT_FALSE(CompileVklText(head + "compose include \"broken.XCompose\"\n", dir + "t.vkl", d, errors));
  EXPECT_EQ(errors.Text(),
            dir + "broken.XCompose:2:18: error: unknown keysym \"bogus\"\n" + dir +
                "broken.XCompose:4:1: error: these keys begin the longer composition of line 3: it could never be "
                "typed\n" +
                dir + "broken.XCompose:6:1: error: the composition of line 5 is complete before these keys are: "
                      "this one could never be typed\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velto::layoutkit
