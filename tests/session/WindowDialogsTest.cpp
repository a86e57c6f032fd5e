// Dialogs that worker threads ask for are shown on the window thread, and end with their owner.
#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <thread>

#include "platform/Event.h"
#include "platform/Window.h"
#include "session/WindowDialogs.h"
#include "support/ScriptedDialogs.h"

namespace vantrel::test {
namespace {

constexpr int kHangGuardMs = 60000;

TEST(WindowDialogs, WorkerDialogsRunOnTheWindowThreadOrEndWithTheOwner) {
  TScriptedDialogs target;
  TEvent cancel(true);
  std::unique_ptr<TWindowDialogs> dialogs;
  TWindow window([&](uint32_t prmMsg, uintptr_t, intptr_t prmL) {
    if (prmMsg == WM_SessionDialog) dialogs->HandleRequest(prmL);
    return intptr_t{0};
  });
  dialogs = std::make_unique<TWindowDialogs>(target, &window, cancel);

  // On the window thread: shown directly.
  target.PushResult(IDYES);
  EXPECT_EQ(dialogs->MessageBox("t", "c", MB_YESNO), IDYES);

  // From a worker: shown when the window thread handles the request.
  target.PushLogin("u", "p", "d");
  TEvent done(true);
  int result = 0;
  TLoginPrompt prompt;
  std::thread worker([&] {
    result = dialogs->Login(prompt);
    done.Set();
  });
  ASSERT_TRUE(window.WaitHandlingMessages(done, kHangGuardMs));
  worker.join();
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(prompt.User, "u");
  EXPECT_EQ(prompt.Domain, "d");

  // The owner going ends the wait; the request left in the queue then shows nothing.
  done.Reset();
  int cert = 0;
  std::thread waiting([&] {
    cert = dialogs->SelectCertificate({{"subject", "issuer"}});
    done.Set();
  });
  pollfd pending{window.Fd(), POLLIN, 0};
  ASSERT_EQ(poll(&pending, 1, kHangGuardMs), 1);
  cancel.Set();
  ASSERT_TRUE(done.Wait(kHangGuardMs));
  waiting.join();
  EXPECT_EQ(cert, -1);
  EXPECT_EQ(target.Shown().size(), 2u);
  // Once cancelled nothing more is asked.
  EXPECT_EQ(dialogs->AskButtons("t", "c", "a", "b"), IDCANCEL);
}

}  // namespace
}  // namespace vantrel::test
