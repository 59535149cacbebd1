// The message-retrieval hook called directly with a message, as the system
// calls it when a thread retrieves one.
#include "hooks/procs.h"
#include "control/exports.h"
#include "delivery/queues.h"
#include "intercept/lookup.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

class MessageHook : public SystemTest {
 protected:
  platform::LParam Retrieve(sim::Message& m, int code = 0) {
    sim::RunAs(appThread_);
    return GetMessageHookProc(code, 1, reinterpret_cast<platform::LParam>(&m));
  }
  sim::Message KeyDown() const { return {app_, sim::kWmKeyDown, 'S', 0x001F0001}; }
};

TEST_F(MessageHook, ASwallowedKeysKeyDownIsKilledOnceWithoutANotice) {
  cb().swallowedScan = 0x1F;
  cb().lastKeyInfo = 0x1F;
  sim::Message m = KeyDown();
  EXPECT_EQ(Retrieve(m), 0);
  EXPECT_EQ(m.message, sim::kWmNull);
  EXPECT_EQ(cb().swallowedScan, 0);
  EXPECT_EQ(cb().lastKeyInfo, 0x1Fu);  // no notice for a killed message
  sim::Message next = KeyDown();
  Retrieve(next);
  EXPECT_EQ(next.message, sim::kWmKeyDown);
  EXPECT_EQ(cb().lastKeyInfo, 0u);
}

TEST_F(MessageHook, NegativeCodesStillKillAndReportLightsAndReturnTheNextHooksResult) {
  sim::InstallTestHook(sim::kGetMessage, [](int, platform::WParam, platform::LParam) {
    return platform::LParam{77};
  });
  // The test hook heads the chain; move the library's hook in front of it.
  AsController([&] {
    RemoveHook(controller_);
    InstallHook(controller_);
    Enable(1);
  });
  cb().swallowedScan = 0x1F;
  cb().leds = 2;
  sim::Message m = KeyDown();
  EXPECT_EQ(Retrieve(m, -1), 77);
  EXPECT_EQ(m.message, sim::kWmNull);
  EXPECT_EQ(cb().ledsReported, 2);
  sim::Message other{app_, sim::kWmTimer, 0, 0};
  EXPECT_EQ(Retrieve(other), 77);  // a message that does not count
}

TEST_F(MessageHook, NothingIsPoppedWhileActionsWait) {
  PushKeyAction(TheRegion(), 8, 0xC5);
  PushKeyResult(TheRegion(), MakeResult(0x1F, kKindChar, 'o'));
  cb().playbackWait = 1;
  sim::Message m = KeyDown();
  Retrieve(m);
  EXPECT_EQ(cb().keyQEmpty, 0);
}

TEST_F(MessageHook, TaskListIsEatenWhileTheLayoutClaimsCtrlOrWin) {
  layoutkit::KeyboardDescription d = Description();
  d.layouts[0].modMask = 0x0033;
  Load(d);
  cb().modsAtKeyDown = 0x0001;
  sim::Message m{app_, sim::kWmSysCommand, 0xF130, 0};
  Retrieve(m);
  EXPECT_EQ(m.message, sim::kWmNull);
  cb().modsAtKeyDown = 0x0004;  // Alt: not claimed
  sim::Message alt{app_, sim::kWmSysCommand, 0xF130, 0};
  Retrieve(alt);
  EXPECT_EQ(alt.message, sim::kWmSysCommand);
}

}  // namespace
}  // namespace velto::testing
