// The simulated input system on its own, observed through test hooks only.
#include "sim/sim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace velto::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint16_t kScanA = 0x1E, kScanB = 0x30, kScanF = 0x21, kScanC = 0x2E, kScan1 = 0x02;
constexpr std::uint16_t kScanLeftShift = 0x2A, kScanRightShift = 0x36, kScanLeftCtrl = 0x1D;
constexpr std::uint16_t kScanRightCtrl = 0x11D, kScanLeftAlt = 0x38, kScanCapsLock = 0x3A;
constexpr std::uint16_t kScanF10 = 0x44, kScanNumLock = 0x145, kScanPad7 = 0x47, kScanPad5 = 0x4C;
constexpr std::uint8_t kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12, kVkCapital = 0x14;
constexpr std::uint8_t kVkNumLock = 0x90, kVkLeftShift = 0xA0, kVkRightShift = 0xA1;
constexpr std::uint32_t kWmUser = 0x0400;

bool IsUp(LParam lParam) { return (static_cast<std::uint32_t>(lParam) >> 31) != 0; }

class Sim : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    thread_ = CreateThread();
    window_ = CreateWindow(thread_, "Edit");
    SetFocus(window_);
  }
  void TearDown() override { Reset(); }

  // A message of the keyboard input (or TranslateMessage's character of one).
  Message Msg(std::uint32_t message, WParam wParam, std::uint32_t lParam) const {
    return {window_, message, wParam, static_cast<LParam>(lParam), false, true};
  }
  std::vector<std::uint32_t> MessagesOfWindow() const {
    std::vector<std::uint32_t> out;
    for (const Message& m : DispatchedTo(window_)) out.push_back(m.message);
    return out;
  }

  Handle thread_ = 0;
  Handle window_ = 0;
};

// --- The input stream ------------------------------------------------------------

using InputStream = Sim;

TEST_F(InputStream, KeybdEventFromAKeyboardHookComesBackAfterTheHookReturns) {
  std::vector<std::string> log;
  InstallTestHook(kKeyboard, [&](int, WParam vk, LParam lParam) -> LParam {
    log.push_back(std::string(1, static_cast<char>(vk)) + (IsUp(lParam) ? "-" : "+"));
    if (vk == 'A' && !IsUp(lParam)) {
      platform::KeybdEvent('B', kScanB, 0);
      platform::KeybdEvent('B', kScanB, platform::kKeyEventKeyUp);
      log.push_back("hook returns");
    }
    return 0;
  });
  KeyDown(kScanA);
  KeyUp(kScanA);
  Pump();
  EXPECT_THAT(log, ElementsAre("A+", "hook returns", "A-", "B+", "B-"));
  EXPECT_THAT(KeyEvents(), ElementsAre(KeyEventCall{'B', kScanB, 0}, KeyEventCall{'B', kScanB, 2}));
  EXPECT_EQ(CharsOf(window_), "ab");
}

TEST_F(InputStream, EventsWaitForThePumpAndAreLostWithoutFocus) {
  platform::KeybdEvent('B', kScanB, 0);
  EXPECT_FALSE(AsyncKeyDown('B'));
  EXPECT_THAT(Dispatched(thread_), IsEmpty());
  Pump();
  EXPECT_TRUE(AsyncKeyDown('B'));
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmKeyDown, kWmChar));

  DestroyWindow(window_);
  EXPECT_EQ(Focus(), 0u);
  ClearDispatched();
  KeyDown(kScanA);
  Pump();
  EXPECT_TRUE(AsyncKeyDown('A'));  // the system took the event all the same
  EXPECT_THAT(Dispatched(thread_), IsEmpty());
}

// --- Keyboard hooks and key state -----------------------------------------------------

using KeyboardHook = Sim;

TEST_F(KeyboardHook, ASwallowedKeyNeverReachesTheWindowNorTheThreadState) {
  InstallTestHook(kKeyboard, [](int, WParam vk, LParam lParam) -> LParam {
    return vk == 'A' && !IsUp(lParam) ? 1 : 0;
  });
  KeyDown(kScanA);
  Pump();
  EXPECT_TRUE(AsyncKeyDown('A'));
  RunAs(thread_);
  EXPECT_EQ(platform::GetKeyState('A'), 0);
  EXPECT_THAT(MessagesOfWindow(), IsEmpty());

  KeyUp(kScanA);
  Pump();
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmKeyUp));
  EXPECT_EQ(CharsOf(window_), "");
}

TEST_F(KeyboardHook, RunsInTheFocusThreadBeforeItsKeyStateMoves) {
  const Handle other = CreateThread();
  RunAs(other);
  Handle seenThread = 0, seenFocus = 0;
  std::int16_t seenState = 1, seenAsync = 0;
  InstallTestHook(kKeyboard, [&](int code, WParam, LParam) -> LParam {
    EXPECT_EQ(code, 0);
    seenThread = CurrentThread();
    seenFocus = platform::GetFocus();
    seenState = platform::GetKeyState(kVkShift);
    seenAsync = platform::GetAsyncKeyState(kVkShift);
    return 0;
  });
  KeyDown(kScanLeftShift);
  Pump();
  EXPECT_EQ(seenThread, thread_);
  EXPECT_EQ(seenFocus, window_);
  EXPECT_EQ(seenState, 0);
  EXPECT_EQ(seenAsync, static_cast<std::int16_t>(0x8000));

  EXPECT_EQ(CurrentThread(), other);
  EXPECT_EQ(platform::GetFocus(), 0u);  // the focus belongs to another thread
  EXPECT_EQ(platform::GetForegroundWindow(), window_);
  RunAs(thread_);
  EXPECT_EQ(platform::GetKeyState(kVkShift), static_cast<std::int16_t>(0xFF80));
  EXPECT_EQ(platform::GetFocus(), window_);
}

TEST_F(KeyboardHook, PeekSeesTheKeyWithNoRemoveAndCanDiscardIt) {
  std::vector<int> codes;
  LParam peekResult = 0;
  InstallTestHook(kKeyboard, [&](int code, WParam, LParam) -> LParam {
    codes.push_back(code);
    return code == 3 ? peekResult : 0;
  });
  EXPECT_FALSE(PeekInput());
  KeyDown(kScanA);
  EXPECT_TRUE(PeekInput());
  Pump();
  EXPECT_THAT(codes, ElementsAre(3, 0));
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmKeyDown, kWmChar));

  codes.clear();
  peekResult = 1;
  KeyUp(kScanA);
  EXPECT_TRUE(PeekInput());
  Pump();
  EXPECT_THAT(codes, ElementsAre(3));
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmKeyDown, kWmChar));
}

TEST_F(KeyboardHook, LockKeysToggleOnPressesThatAreNotRepeats) {
  KeyDown(kScanCapsLock);
  KeyDown(kScanCapsLock);  // auto-repeat
  KeyUp(kScanCapsLock);
  Pump();
  EXPECT_TRUE(Toggled(kVkCapital));
  RunAs(thread_);
  EXPECT_EQ(platform::GetKeyState(kVkCapital), 1);
  Tap(kScanCapsLock);
  EXPECT_FALSE(Toggled(kVkCapital));
  EXPECT_EQ(platform::GetKeyState(kVkCapital), 0);
}

TEST_F(KeyboardHook, SetKeyStateReachesEveryThreadAndLaterOnes) {
  SetKeyDown(kVkShift, true);
  SetToggled(kVkNumLock, true);
  const Handle later = CreateThread();
  for (const Handle t : {Handle{0}, thread_, later}) {
    RunAs(t);
    EXPECT_EQ(platform::GetKeyState(kVkShift), static_cast<std::int16_t>(0xFF80)) << t;
    EXPECT_EQ(platform::GetKeyState(kVkNumLock), 1) << t;
    std::uint8_t state[256] = {};
    ASSERT_TRUE(platform::GetKeyboardState(state));
    EXPECT_EQ(state[kVkShift], 0x80) << t;
  }
  EXPECT_EQ(platform::GetAsyncKeyState(kVkShift), static_cast<std::int16_t>(0x8000));
  SetKeyDown(kVkShift, false);
  EXPECT_EQ(platform::GetAsyncKeyState(kVkShift), 0);
  EXPECT_EQ(platform::GetKeyState(kVkShift), 0);
}

// --- Keyboard messages -------------------------------------------------------------------

using KeyMessages = Sim;

TEST_F(KeyMessages, LParamCarriesScanExtendedPreviousStateAndTransition) {
  KeyDown(kScanA);
  KeyDown(kScanA);
  KeyUp(kScanA);
  KeyDown(kScanRightCtrl);
  KeyUp(kScanRightCtrl);
  Pump();
  EXPECT_THAT(DispatchedTo(window_),
              ElementsAre(Msg(kWmKeyDown, 'A', 0x001E0001), Msg(kWmChar, 'a', 0x001E0001),
                          Msg(kWmKeyDown, 'A', 0x401E0001), Msg(kWmChar, 'a', 0x401E0001),
                          Msg(kWmKeyUp, 'A', 0xC01E0001), Msg(kWmKeyDown, kVkControl, 0x011D0001),
                          Msg(kWmKeyUp, kVkControl, 0xC11D0001)));
}

TEST_F(KeyMessages, SystemKeysWhileAltIsHeldWithoutCtrlAndForF10) {
  KeyDown(kScanLeftAlt);
  Tap(kScanF);
  KeyUp(kScanLeftAlt);
  Tap(kScanF10);
  EXPECT_THAT(DispatchedTo(window_),
              ElementsAre(Msg(kWmSysKeyDown, kVkMenu, 0x20380001), Msg(kWmSysKeyDown, 'F', 0x20210001),
                          Msg(kWmSysChar, 'f', 0x20210001), Msg(kWmSysKeyUp, 'F', 0xE0210001),
                          Msg(kWmSysKeyUp, kVkMenu, 0xC0380001), Msg(kWmSysKeyDown, 0x79, 0x00440001),
                          Msg(kWmSysKeyUp, 0x79, 0xC0440001)));

  ClearDispatched();
  KeyDown(kScanLeftCtrl);
  KeyDown(kScanLeftAlt);
  KeyDown(kScanF);
  Pump();
  EXPECT_THAT(DispatchedTo(window_), ::testing::Contains(Msg(kWmKeyDown, 'F', 0x20210001)));
  EXPECT_EQ(DispatchedTo(window_).front(), Msg(kWmKeyDown, kVkControl, 0x001D0001));
}

TEST_F(KeyMessages, BothShiftKeysGiveTheGenericKeyAndTheirOwnState) {
  KeyDown(kScanRightShift);
  Pump();
  EXPECT_EQ(DispatchedTo(window_).back(), Msg(kWmKeyDown, kVkShift, 0x00360001));
  EXPECT_TRUE(AsyncKeyDown(kVkRightShift));
  EXPECT_FALSE(AsyncKeyDown(kVkLeftShift));
  KeyDown(kScanLeftShift);
  KeyUp(kScanRightShift);
  Pump();
  EXPECT_TRUE(AsyncKeyDown(kVkShift));  // the left one is still down
  KeyUp(kScanLeftShift);
  Pump();
  EXPECT_FALSE(AsyncKeyDown(kVkShift));
}

TEST_F(KeyMessages, KeypadFollowsNumLock) {
  Tap(kScanPad7);
  Tap(kScanPad5);
  Tap(kScanNumLock);
  Tap(kScanPad7);
  std::vector<WParam> downs;
  for (const Message& m : DispatchedTo(window_)) {
    if (m.message == kWmKeyDown) downs.push_back(m.wParam);
  }
  EXPECT_THAT(downs, ElementsAre(0x24, 0x0C, kVkNumLock, 0x67));  // Home, Clear, Num Lock, 7
  EXPECT_EQ(CharsOf(window_), "7");
}

// --- TranslateMessage and the message hook --------------------------------------------------

using Translation = Sim;

TEST_F(Translation, CharactersFollowShiftCapsLockAndCtrl) {
  KeyDown(kScanLeftShift);
  Tap(kScanA);
  Tap(kScan1);
  KeyUp(kScanLeftShift);
  Tap(kScanCapsLock);
  Tap(kScanA);
  Tap(kScan1);
  KeyDown(kScanRightShift);
  Tap(kScanA);
  KeyUp(kScanRightShift);
  Tap(kScanCapsLock);
  KeyDown(kScanLeftCtrl);
  Tap(kScanC);
  KeyUp(kScanLeftCtrl);
  EXPECT_EQ(CharsOf(window_), "A!A1a\x03");
}

TEST_F(Translation, TypeUsPressesShiftWhereNeeded) {
  TypeUs("Hi, you!");
  EXPECT_EQ(CharsOf(window_), "Hi, you!");
  Tap(kScanCapsLock);
  ClearDispatched();
  TypeUs("aB");
  EXPECT_EQ(CharsOf(window_), "aB");
  EXPECT_FALSE(AsyncKeyDown(kVkShift));
}

TEST_F(Translation, MessageHookSeesRemovalAndCanNullTheKey) {
  std::vector<WParam> removeFlags;
  InstallTestHook(kGetMessage, [&](int, WParam removeFlag, LParam msg) -> LParam {
    removeFlags.push_back(removeFlag);
    const platform::MessageFields m = platform::ReadHookedMessage(msg);
    if (m.message == kWmKeyDown && m.wParam == 'B') platform::ReplaceHookedMessage(msg, kWmNull);
    return 0;
  });
  Tap(kScanA);
  Tap(kScanB);
  EXPECT_EQ(CharsOf(window_), "a");
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmKeyDown, kWmChar, kWmKeyUp, kWmNull, kWmKeyUp));
  EXPECT_THAT(removeFlags, ElementsAre(1, 1, 1, 1, 1));
}

// --- Hook chains ---------------------------------------------------------------------------

using HookChain = Sim;

TEST_F(HookChain, NewestFirstAndCallNextHookWalksOn) {
  std::vector<std::string> order;
  Handle first = 0, second = 0;
  first = InstallTestHook(kCbt, [&](int code, WParam w, LParam l) -> LParam {
    order.push_back("first");
    return platform::CallNextHook(first, code, w, l) + 7;
  });
  second = InstallTestHook(kCbt, [&](int code, WParam w, LParam l) -> LParam {
    order.push_back("second");
    return platform::CallNextHook(second, code, w, l);
  });
  LParam result = 0;
  InstallTestHook(kCbt, [&](int code, WParam w, LParam l) -> LParam {
    order.push_back("third");
    result = platform::CallNextHook(0, code, w, l);  // 0: after the hook now running
    return 0;
  });
  EXPECT_EQ(HookCount(kCbt), 3u);
  const Handle next = CreateWindow(thread_, "Edit");
  SetFocus(next);
  EXPECT_THAT(order, ElementsAre("third", "second", "first"));
  EXPECT_EQ(result, 7);
  EXPECT_EQ(Focus(), next);

  EXPECT_TRUE(platform::RemoveHook(second));
  EXPECT_FALSE(platform::RemoveHook(second));
  EXPECT_EQ(HookCount(kCbt), 2u);
  EXPECT_EQ(HookCount(kKeyboard), 0u);
}

TEST_F(HookChain, AHookMayUnhookItselfWhileRunning) {
  int calls = 0;
  Handle self = 0;
  self = InstallTestHook(kKeyboard, [&](int, WParam, LParam) -> LParam {
    ++calls;
    UnhookTestHook(self);
    return 1;
  });
  Tap(kScanA);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(HookCount(kKeyboard), 0u);
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmKeyUp));
}

// --- Queues, focus, windows -------------------------------------------------------------------

using Queues = Sim;

TEST_F(Queues, PostedMessagesComeBeforeWaitingInput) {
  KeyDown(kScanA);
  ASSERT_TRUE(PeekInput());  // now waiting in the thread's input queue
  Post(window_, kWmUser, 1, 2);
  Pump();
  EXPECT_THAT(MessagesOfWindow(), ElementsAre(kWmUser, kWmKeyDown, kWmChar));
}

TEST_F(Queues, PostMessageOfNoWindowGoesToTheCallersThread) {
  InstallTestHook(kKeyboard, [](int, WParam, LParam lParam) -> LParam {
    if (!IsUp(lParam)) platform::PostMessage(0, kWmUser, 5, 6);
    return 0;
  });
  Tap(kScanA);
  EXPECT_THAT(Dispatched(thread_), ::testing::Contains(Message{0, kWmUser, 5, 6}));
  EXPECT_FALSE(platform::PostMessage(0xDEAD, kWmUser, 0, 0));
  RunAs(thread_);
  EXPECT_TRUE(platform::PostMessage(window_, kWmUser, 7, 8));
  Pump();
  EXPECT_EQ(DispatchedTo(window_).back(), (Message{window_, kWmUser, 7, 8}));
}

TEST_F(Queues, RegisteredMessagesAreStableByName) {
  const std::uint32_t first = platform::RegisterWindowMessage("SimTestFirst");
  EXPECT_GE(first, 0xC000u);
  EXPECT_NE(platform::RegisterWindowMessage("SimTestSecond"), first);
  EXPECT_EQ(platform::RegisterWindowMessage("SimTestFirst"), first);
  Reset();
  EXPECT_EQ(RegisteredMessage("SimTestFirst"), first);
  EXPECT_EQ(RegisteredMessage("SimTestNever"), 0u);
}

using FocusTest = Sim;

struct CbtCall {
  Handle thread;
  int code;
  WParam wParam;
  LParam lParam;
  bool operator==(const CbtCall&) const = default;
};

TEST_F(FocusTest, CbtHookRunsInTheNewWindowsThreadAndCanRefuse) {
  const Handle otherThread = CreateThread();
  const Handle other = CreateWindow(otherThread, "ConsoleWindowClass");
  std::vector<CbtCall> seen;
  LParam verdict = 1;
  InstallTestHook(kCbt, [&](int code, WParam w, LParam l) -> LParam {
    seen.push_back({CurrentThread(), code, w, l});
    return verdict;
  });
  SetFocus(other);
  EXPECT_EQ(Focus(), window_);
  EXPECT_EQ(platform::GetForegroundWindow(), window_);
  verdict = 0;
  SetFocus(other);
  EXPECT_EQ(Focus(), other);
  EXPECT_EQ(platform::GetForegroundWindow(), other);
  const CbtCall expected{otherThread, 9, other, static_cast<LParam>(window_)};
  EXPECT_THAT(seen, ElementsAre(expected, expected));

  Tap(kScanA);
  EXPECT_EQ(CharsOf(other), "a");
  EXPECT_EQ(CharsOf(window_), "");
}

TEST_F(FocusTest, ClassNamesAreCopiedWithTheirLength) {
  const Handle console = CreateWindow(thread_, "ConsoleWindowClass");
  char buf[32];
  EXPECT_EQ(platform::GetClassName(console, buf, sizeof buf), 18);
  EXPECT_STREQ(buf, "ConsoleWindowClass");
  EXPECT_EQ(platform::GetClassName(console, buf, 8), 7);
  EXPECT_STREQ(buf, "Console");
  EXPECT_EQ(platform::GetClassName(0xDEAD, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(CreateWindow(0xDEAD, "Edit"), 0u);
}

// --- Timers and sleep --------------------------------------------------------------------------

using Timers = Sim;

TEST_F(Timers, TicksAreRetrievedByTheTimersThreadOnlyWhenAsked) {
  RunAs(thread_);
  const Handle timer = platform::StartTimer(1);
  RunAs(0);
  ASSERT_NE(timer, 0u);
  std::vector<Handle> tickThreads;
  InstallTestHook(kGetMessage, [&](int, WParam, LParam msg) -> LParam {
    if (platform::ReadHookedMessage(msg).message == kWmTimer) {
      tickThreads.push_back(CurrentThread());
      platform::ReplaceHookedMessage(msg, kWmNull);
    }
    return 0;
  });
  EXPECT_THAT(tickThreads, IsEmpty());
  TickTimers(3);
  EXPECT_THAT(tickThreads, ElementsAre(thread_, thread_, thread_));
  EXPECT_THAT(Dispatched(thread_), ElementsAre(Message{0, kWmNull, timer, 0}, Message{0, kWmNull, timer, 0},
                                               Message{0, kWmNull, timer, 0}));

  EXPECT_EQ(LiveTimers(), 1u);
  EXPECT_TRUE(platform::StopTimer(timer));
  EXPECT_FALSE(platform::StopTimer(timer));
  TickTimers(2);
  EXPECT_EQ(tickThreads.size(), 3u);
  EXPECT_EQ(LiveTimers(), 0u);
}

TEST_F(Timers, EachTimerGetsAFreshIdAndTicksAfterWaitingInput) {
  const Handle a = platform::StartTimer(1);
  const Handle b = platform::StartTimer(1);
  EXPECT_NE(a, b);
  std::vector<std::uint32_t> retrieved;
  InstallTestHook(kGetMessage, [&](int, WParam, LParam msg) -> LParam {
    retrieved.push_back(platform::ReadHookedMessage(msg).message);
    return 0;
  });
  KeyDown(kScanA);
  TickTimers(1);
  EXPECT_THAT(retrieved, ElementsAre(kWmKeyDown, kWmChar, kWmTimer, kWmTimer));
  EXPECT_THAT(Dispatched(0), ElementsAre(Message{0, kWmTimer, a, 0}, Message{0, kWmTimer, b, 0}));
}

TEST_F(Timers, SleepReturnsAtOnceButLetsTheTestActMeanwhile) {
  const Handle timer = platform::StartTimer(1);
  std::uint32_t slept = 0;
  OnSleep([&](std::uint32_t ms) {
    slept += ms;
    TickTimers(static_cast<int>(ms));
  });
  platform::Sleep(100);
  EXPECT_EQ(slept, 100u);
  EXPECT_EQ(Dispatched(0).size(), 100u);
  EXPECT_EQ(Dispatched(0).front(), (Message{0, kWmTimer, timer, 0}));
  Reset();
  platform::Sleep(5);
  EXPECT_EQ(slept, 100u);
}

// --- The random schedule --------------------------------------------------------------------------

using Schedule = Sim;

// Two threads with posted messages, the focus thread with a timer and two
// keys in the stream: every message comes through, each thread in its own
// order, the two threads' steps mixed as the seed says.
TEST_F(Schedule, ThreadsInterleaveButEachKeepsItsOrder) {
  auto run = [this](std::uint32_t seed) {
    Reset();
    SetUp();
    const Handle other = CreateWindow(CreateThread(), "Edit");
    RunAs(thread_);
    platform::StartTimer(1);
    std::vector<std::pair<Handle, std::uint32_t>> log;  // thread, message
    InstallTestHook(kGetMessage, [&log](int, WParam, LParam msg) -> LParam {
      log.emplace_back(CurrentThread(), platform::ReadHookedMessage(msg).message);
      return 0;
    });
    for (const Handle window : {window_, other, window_, other, window_, other}) Post(window, kWmUser, 0, 0);
    for (const std::uint16_t s : {kScanA, kScanB}) {
      KeyDown(s);
      KeyUp(s);
    }
    Scheduler scheduler(seed);
    scheduler.AddTicks(3);
    EXPECT_EQ(scheduler.Run(), 4 + 3 + 4 + 2 + 3 + 3);  // events taken, then the two threads' messages
    EXPECT_EQ(scheduler.TicksLeft(), 0);
    EXPECT_EQ(CharsOf(window_), "ab");
    // Posted messages before input; a tick only when the thread has nothing
    // waiting, so never between a key-down and its character.
    const std::vector<Message>& record = Dispatched(thread_);
    std::vector<std::uint32_t> ownOrder;
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (record[i].message != kWmTimer) {
        ownOrder.push_back(record[i].message);
      } else {
        EXPECT_TRUE(i > 0 && record[i - 1].message != kWmKeyDown) << "seed " << seed << ", tick " << i;
      }
    }
    EXPECT_THAT(ownOrder, ElementsAre(kWmUser, kWmUser, kWmUser, kWmKeyDown, kWmChar, kWmKeyUp, kWmKeyDown,
                                      kWmChar, kWmKeyUp))
        << "seed " << seed;
    return log;
  };
  const auto first = run(1);
  EXPECT_EQ(run(1), first);
  // Pump's order goes from one thread to the other twice: the seeds mix them more.
  std::size_t most = 0;
  for (std::uint32_t seed = 2; seed <= 5; ++seed) {
    const auto log = run(seed);
    EXPECT_NE(log, first) << "seed " << seed;
    std::size_t switches = 0;
    for (std::size_t i = 1; i < log.size(); ++i) switches += log[i].first != log[i - 1].first;
    most = std::max(most, switches);
  }
  EXPECT_GT(most, 2u);
}

// --- Layout calls and Reset ---------------------------------------------------------------------

using LayoutCalls = Sim;

TEST_F(LayoutCalls, ToAsciiExReadsTheGivenStateArray) {
  std::uint8_t state[256] = {};
  std::uint16_t out = 0;
  EXPECT_EQ(platform::ToAsciiEx('A', kScanA, state, &out, 0, 0x04090409), 1);
  EXPECT_EQ(out, 'a');
  state[kVkShift] = 0x80;
  EXPECT_EQ(platform::ToAsciiEx('1', kScan1, state, &out, 0, 0x04090409), 1);
  EXPECT_EQ(out, '!');
  state[kVkShift] = 0;
  state[kVkCapital] = 1;
  EXPECT_EQ(platform::ToAsciiEx('A', kScanA, state, &out, 0, 0x04090409), 1);
  EXPECT_EQ(out, 'A');
  state[kVkControl] = 0x80;
  EXPECT_EQ(platform::ToAsciiEx('C', kScanC, state, &out, 0, 0x04090409), 1);
  EXPECT_EQ(out, 3);
  EXPECT_EQ(platform::ToAsciiEx(0x70, 0x3B, state, &out, 0, 0x04090409), 0);  // F1
}

TEST_F(LayoutCalls, MapVirtualKeyGivesScanCodesWithoutTheExtendedFlag) {
  EXPECT_EQ(platform::MapVirtualKey('A', 0), 0x1Eu);
  EXPECT_EQ(platform::MapVirtualKeyEx(0xA3, 0, 0x04090409), 0x1Du);  // right Ctrl
  EXPECT_EQ(platform::MapVirtualKey(0xC5, 0), 0u);
  EXPECT_EQ(platform::VkKeyScanEx('?', 0x04090409), 0x1BF);
  RunAs(thread_);
  EXPECT_EQ(platform::GetKeyboardLayout(0), 0x04090409u);
}

TEST_F(LayoutCalls, ResetForgetsTheSystemButKeepsSharedMemoryFailure) {
  InstallTestHook(kKeyboard, [](int, WParam, LParam) -> LParam { return 0; });
  platform::StartTimer(1);
  SetKeyDown(kVkShift, true);
  FailSharedMemory(true);
  Reset();
  EXPECT_EQ(HookCount(kKeyboard), 0u);
  EXPECT_EQ(LiveTimers(), 0u);
  EXPECT_EQ(Focus(), 0u);
  EXPECT_EQ(ThreadOf(window_), 0u);
  EXPECT_FALSE(AsyncKeyDown(kVkShift));
  EXPECT_EQ(platform::OpenSharedMemory("sim-test-region", 64).view, nullptr);
  FailSharedMemory(false);
}

}  // namespace
}  // namespace velto::sim
