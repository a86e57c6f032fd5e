// The page channel and the host loop with a real dispatch table and window: calls answered in
// order on the window thread, dialogs answered by the page while the window keeps serving its
// senders, malformed and oversized lines answered with errors, and every wait ended by the end
// of the page's input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "diag/Exceptions.h"
#include "host/vantreltcs/HostLoop.h"
#include "host/vantreltcs/PageChannel.h"
#include "host/vantreltcs/PageDialogs.h"
#include "host/vantreltcs/PageEvents.h"
#include "integration/host_pipes.h"
#include "platform/Window.h"

namespace vantrel::test {
namespace {

using namespace host;

constexpr uint32_t WM_TestSend = WM_USER + 500;

class HostChannel : public ::testing::Test {
 protected:
  HostChannel()
      : m_Window([this](uint32_t prmMsg, uintptr_t, intptr_t) -> intptr_t {
          if (prmMsg == WM_TestSend) ++m_Sent;
          return 0;
        }),
        m_Channel(
            m_Pipes.HostIn, m_Pipes.HostOut, [this] { m_Loop.CallQueued(); },
            [this] { m_Loop.ChannelClosed(); }),
        m_Dialogs(m_Channel, &m_Window) {
    m_Table.Add(DispGetI4("Count", 10, [this] { return m_Count; }));
    m_Table.Add(DispPutI4("Count", 10, [this](int32_t v) { m_Count = v; }));
    TDispMember desk{"GetDesk",
                     11,
                     TDispKind::Method,
                     {TVarType::I4},
                     2,
                     [](const std::vector<Variant>& a, TDispResult& r) {
                       r.Outs[0] = "Desk " + std::to_string(a[0].AsI4());
                       r.Outs[1] = a[0].AsI4() * 10;
                     }};
    m_Table.Add(desk);
    m_Table.Add(DispMethod("Ask", 12, {}, [this](const std::vector<Variant>&) {
      // A worker that sends to the window while the window thread waits for the page.
      TEvent sent(true);
      std::thread worker([this, &sent] {
        m_Window.Send(WM_TestSend);
        sent.Set();
      });
      m_Answer = m_Dialogs.MessageBox("Delete?", "Confirm", MB_YESNO | MB_ICONQUESTION);
      m_Window.WaitHandlingMessages(sent, kHostHangGuardMs);
      worker.join();
    }));
    m_Table.Add(DispMethod("Fail", 13, {},
                           [](const std::vector<Variant>&) { throw EBaseException("it failed"); }));
  }

  void Run() { m_Loop.Run(m_Window, m_Table, m_Channel); }
  // Reads the next dialog the page is shown and answers it with prmReply's members.
  TJson Answer(const std::string& prmReply) {
    TJson d = m_Pipes.Json();
    m_Pipes.Send(R"({"dialog_reply":)" + d["id"].dump() + "," + prmReply + "}\n");
    return d;
  }

  TPagePipes m_Pipes;
  TWindow m_Window;
  THostLoop m_Loop;
  TPageChannel m_Channel;
  TPageDialogs m_Dialogs;
  TDispatchTable m_Table;
  int32_t m_Count = 0;
  int m_Answer = 0;
  std::atomic<int> m_Sent{0};
};

TEST_F(HostChannel, CallsAreAnsweredInOrderUntilTheInputEnds) {
  m_Channel.Start();
  m_Pipes.Send(R"({"id":1,"put":"Count","value":4})"
               "\n"
               R"({"id":2,"get":"Count"})"
               "\n"
               R"({"id":3,"method":"GetDesk","args":[2]})"
               "\n"
               // Out parameters passed as placeholders, as an automation caller does.
               R"({"id":4,"dispid":11,"args":[3,"",0]})"
               "\n"
               R"({"id":5,"method":"Nope"})"
               "\n"
               R"({"id":6,"method":"Fail"})"
               "\n"
               R"({"id":7,"get":"Count","value":1})"
               "\n"
               // The last line may come without its newline.
               R"({"id":8,"get":"Count"})");
  m_Pipes.EndInput();
  Run();  // returns only after the end of input
  EXPECT_EQ(m_Pipes.Line(), R"({"id":1,"result":null,"out":[]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":2,"result":4,"out":[]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":3,"result":null,"out":["Desk 2",20]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":4,"result":null,"out":["Desk 3",30]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":5,"error":"Unknown member Nope"})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":6,"error":"it failed"})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":7,"result":4,"out":[]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":8,"result":4,"out":[]})");
  EXPECT_TRUE(m_Channel.Closed());
}

TEST_F(HostChannel, MalformedAndOversizedLinesGetErrorsAndTheChannelGoesOn) {
  m_Channel.Start();
  m_Pipes.Send("{broken\n\n   \n[1]\n");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":null,"error":"malformed request: not JSON"})");
  EXPECT_EQ(m_Pipes.Line(), R"({"id":null,"error":"malformed request: not a JSON object"})");
  // A line far beyond the limit, sent in pieces, is refused once and skipped to its end.
  std::thread writer([this] {
    std::string piece(64 * 1024, 'x');
    for (size_t sent = 0; sent < kMaxPageLine + 3 * piece.size(); sent += piece.size())
      m_Pipes.Send(piece);
    m_Pipes.Send(
        "\n"
        R"({"id":2,"get":"Count"})"
        "\n");
    m_Pipes.Send(R"({"dialog_reply":77,"result":"ok"})"
                 "\n");
    m_Pipes.EndInput();
  });
  EXPECT_EQ(m_Pipes.Line(), R"({"id":null,"error":"malformed request: line too long"})");
  Run();
  writer.join();
  // The reader answers the stray reply itself, the window thread the call: either may be first.
  std::set<std::string> rest = {m_Pipes.Line(), m_Pipes.Line()};
  EXPECT_EQ(rest, (std::set<std::string>{R"({"id":2,"result":0,"out":[]})",
                                         R"({"id":null,"error":"no open dialog 77"})"}));
}

TEST_F(HostChannel, ADialogIsAnsweredByThePageWhileTheWindowServesItsSenders) {
  m_Channel.Start();
  std::thread page([this] {
    m_Pipes.Send(R"({"id":1,"method":"Ask"})"
                 "\n");
    // A call sent while the dialog is open waits until the dialog ended.
    TJson dialog = m_Pipes.Json();
    m_Pipes.Send(R"({"id":2,"get":"Count"})"
                 "\n");
    EXPECT_EQ(dialog["dialog"], "confirm");
    EXPECT_EQ(dialog["text"], "Delete?");
    EXPECT_EQ(dialog["buttons"], TJson::parse(R"(["yes","no"])"));
    // Answered only once the window thread served the worker's Send during the dialog.
    while (m_Sent == 0) std::this_thread::yield();
    m_Pipes.Send(R"({"dialog_reply":)" + dialog["id"].dump() +
                 R"(,"result":"yes"})"
                 "\n");
    EXPECT_EQ(m_Pipes.Line(), R"({"id":1,"result":null,"out":[]})");
    EXPECT_EQ(m_Pipes.Line(), R"({"id":2,"result":0,"out":[]})");
    m_Pipes.EndInput();
  });
  Run();
  page.join();
  EXPECT_EQ(m_Answer, IDYES);
  EXPECT_EQ(m_Sent, 1);
}

TEST_F(HostChannel, TheEndOfInputEndsAnOpenDialogAndLaterOnesReturnAtOnce) {
  m_Channel.Start();
  std::thread page([this] {
    m_Pipes.Send(R"({"id":1,"method":"Ask"})"
                 "\n");
    EXPECT_EQ(m_Pipes.Json()["dialog"], "confirm");
    m_Pipes.EndInput();  // the page goes away without answering
  });
  Run();
  page.join();
  EXPECT_EQ(m_Answer, IDNO);  // a dismissed Yes/No question is a No
  EXPECT_EQ(m_Pipes.Line(), R"({"id":1,"result":null,"out":[]})");
  EXPECT_EQ(m_Dialogs.MessageBox("Again?", "x", MB_OKCANCEL), IDCANCEL);
  TLoginPrompt prompt;
  prompt.User = "kept";
  EXPECT_EQ(m_Dialogs.Login(prompt), IDCANCEL);
  EXPECT_EQ(prompt.User, "kept");
}

TEST_F(HostChannel, DialogRepliesAreCheckedAgainstTheDialog) {
  m_Channel.Start();
  std::atomic<bool> done{false};
  std::thread page([&] {
    TJson d = Answer(R"("result":"ok","fields":{"user":"ann","password":"pw","domain":"D"})");
    EXPECT_EQ(d["dialog"], "login");
    EXPECT_FALSE(d.contains("password"));  // the held password never goes to the page
    d = Answer(R"("result":"ok","fields":{"user":"bob","password":"x"})");
    EXPECT_EQ(d["dialog"], "proxycred");
    d = Answer(R"("result":"retry")");  // not a button of an OK box
    EXPECT_EQ(d["buttons"], TJson::parse(R"(["ok"])"));
    d = Answer(R"("result":"ok","fields":{"index":1})");
    EXPECT_EQ(d["rows"].size(), 2u);
    Answer(R"("result":"ok","fields":{"index":5})");
    Answer(R"("result":"no")");
    while (!done) std::this_thread::yield();
    m_Pipes.EndInput();
  });
  TLoginPrompt login;
  login.Password = "held";
  EXPECT_EQ(m_Dialogs.Login(login), IDOK);
  EXPECT_EQ(login.User, "ann");
  EXPECT_EQ(login.Password, "pw");
  EXPECT_EQ(login.Domain, "D");
  TLoginPrompt proxy;
  proxy.Caption = "Proxy Authentication";
  proxy.DomainVisible = false;
  proxy.Domain = "keep";
  EXPECT_EQ(m_Dialogs.Login(proxy), IDOK);
  EXPECT_EQ(proxy.Domain, "keep");  // a hidden domain row is not taken from the page
  EXPECT_EQ(m_Dialogs.MessageBox("Failed", "Error", MB_OK | MB_ICONERROR), IDOK);
  std::vector<TCertRow> rows = {{"CN=a", "CA"}, {"CN=b", "CA"}};
  EXPECT_EQ(m_Dialogs.SelectCertificate(rows), 1);
  EXPECT_EQ(m_Dialogs.SelectCertificate(rows), -1);  // an index outside the rows cancels
  EXPECT_EQ(m_Dialogs.AskButtons("Which?", "c", "First", "Second"), IDNO);
  done = true;
  Run();
  page.join();
}

TEST_F(HostChannel, ServerCertDialogShowsTheCertificateAndOnlyItsOwnAnswersGoOn) {
  m_Channel.Start();
  const struct {
    const char* Reply;
    TServerCertAnswer Answer;
  } cases[] = {{"once", TServerCertAnswer::AcceptOnce},
               {"remember", TServerCertAnswer::AcceptAndRemember},
               {"ok", TServerCertAnswer::Refuse},
               {"cancel", TServerCertAnswer::Refuse}};
  std::atomic<bool> done{false};
  std::thread page([&] {
    for (const auto& c : cases) {
      TJson d = m_Pipes.Json();
      EXPECT_EQ(d["dialog"], "servercert");
      EXPECT_EQ(d["host"], "gw.example");
      EXPECT_EQ(d["port"], 443);
      EXPECT_EQ(d["subject"], "CN=gw");
      EXPECT_EQ(d["issuer"], "CN=gw");
      EXPECT_EQ(d["not_before"], "Jan  1 00:00:00 2026 GMT");
      EXPECT_EQ(d["not_after"], "Jan  1 00:00:00 2027 GMT");
      EXPECT_EQ(d["fingerprint"], "AB:CD");
      EXPECT_EQ(d["reason"], "self-signed certificate");
      m_Pipes.Send(R"({"dialog_reply":)" + d["id"].dump() + R"(,"result":")" + c.Reply + "\"}\n");
    }
    while (!done) std::this_thread::yield();
    m_Pipes.EndInput();
  });
  TServerCertInfo info{"gw.example",
                       443,
                       "CN=gw",
                       "CN=gw",
                       "Jan  1 00:00:00 2026 GMT",
                       "Jan  1 00:00:00 2027 GMT",
                       "AB:CD",
                       "self-signed certificate"};
  for (const auto& c : cases) EXPECT_EQ(m_Dialogs.ConfirmServerCert(info), c.Answer) << c.Reply;
  done = true;
  Run();
  page.join();
  // With the page gone nobody answers: refused.
  EXPECT_EQ(m_Dialogs.ConfirmServerCert(info), TServerCertAnswer::Refuse);
}

TEST_F(HostChannel, CertificateListAndSecretsOnThePage) {
  m_Channel.Start();
  std::atomic<bool> done{false};
  std::thread page([&] {
    TJson d = Answer(R"("result":"ok")");  // OK with no row selected
    EXPECT_EQ(d["rows"][1], TJson::parse(R"({"subject":"b","issuer":"CA"})"));
    d = Answer(R"("result":"ok","fields":{"secret":"1234"})");
    EXPECT_EQ(d["dialog"], "secret");
    EXPECT_EQ(d["text"], "PIN for card");
    EXPECT_EQ(d["caption"], "Smart card PIN");
    Answer(R"("result":"cancel","fields":{"secret":"x"})");
    while (!done) std::this_thread::yield();
    m_Pipes.EndInput();
  });
  EXPECT_EQ(m_Dialogs.SelectCertificate({{"a", "CA"}, {"b", "CA"}}), kCertNotSelected);
  std::string pin = "kept";
  EXPECT_EQ(m_Dialogs.AskSecret("PIN for card", "Smart card PIN", pin), IDOK);
  EXPECT_EQ(pin, "1234");
  EXPECT_EQ(m_Dialogs.AskSecret("PIN for card", "Smart card PIN", pin), IDCANCEL);
  EXPECT_EQ(pin, "1234");
  done = true;
  Run();
  page.join();
}

TEST_F(HostChannel, EventsGoOutAsLines) {
  TPageEvents events(m_Channel);
  events.OnTCSStatusChanged(1, 0, "Connecting...");
  events.OnHostStatusChanged(0, 3);
  events.OnError(7, "desk");
  events.OnTimeoutAlert(2, -1);
  events.OnFormEvent(DISPID_OnClick);
  events.OnFormEvent(DISPID_OnTCSStatusChanged);  // not a form event: nothing
  char16_t key = u'a';
  events.OnKeyPress(key);
  EXPECT_EQ(m_Pipes.Line(), R"({"event":"OnTCSStatusChanged","args":[1,0,"Connecting..."]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"event":"OnHostStatusChanged","args":[0,3]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"event":"OnError","args":[7,"desk"]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"event":"OnTimeoutAlert","args":[2,-1]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"event":"OnClick","args":[]})");
  EXPECT_EQ(m_Pipes.Line(), R"({"event":"OnKeyPress","args":[97]})");
  EXPECT_EQ(key, u'a');
}

TEST_F(HostChannel, APageThatEndsItsInputAndStopsReadingCannotHoldAWriter) {
  m_Channel.Start();
  std::atomic<bool> writing{false};
  std::thread writer([&] {
    // Far more than a pipe holds; nobody reads the page's side.
    std::string big(1 << 20, 'y');
    writing = true;
    m_Channel.WriteLine(big);
  });
  while (!writing) std::this_thread::yield();
  m_Pipes.EndInput();
  Run();
  writer.join();  // ends once the input ended, not never
  EXPECT_TRUE(m_Channel.Closed());
}

TEST_F(HostChannel, AFloodOfCallsIsQueuedUpToItsBoundAndTheRestRefusedAtOnce) {
  m_Channel.Start();
  const size_t kCalls = kMaxQueuedCalls + 76;
  std::string lines;
  for (size_t i = 1; i <= kCalls; ++i)
    lines += R"({"id":)" + std::to_string(i) + R"(,"get":"Count"})" + "\n";
  m_Pipes.Send(lines);
  // Nothing takes calls yet: those beyond the bound are answered by the reader.
  for (size_t i = kMaxQueuedCalls + 1; i <= kCalls; ++i)
    EXPECT_EQ(m_Pipes.Line(),
              R"({"id":)" + std::to_string(i) + R"(,"error":")" + kCallsBusy + R"("})");
  m_Pipes.EndInput();
  Run();
  for (size_t i = 1; i <= kMaxQueuedCalls; ++i)
    ASSERT_EQ(m_Pipes.Line(), R"({"id":)" + std::to_string(i) + R"(,"result":0,"out":[]})");
}

// A page that reads nothing while its input stays open is gone once its output stayed full
// for the stall time: the writer returns, and the channel ends as at the end of input.
TEST(HostChannelOutput, APageThatStopsReadingIsGoneAfterTheStall) {
  TPagePipes pipes;
  TEvent closed(true);
  TPageChannel channel(pipes.HostIn, pipes.HostOut, {}, [&] { closed.Set(); }, -1,
                       {64u << 10, 300, 200});
  channel.Start();
  const auto start = std::chrono::steady_clock::now();
  const std::string line(1000, 'z');
  for (int i = 0; i < 1000; ++i) channel.WriteLine(line);  // far beyond pipe and queue
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(closed.Wait(kHostHangGuardMs));
  EXPECT_TRUE(channel.Closed());
}

// After the end of input, output the page does not read is dropped within one bound in all.
TEST(HostChannelOutput, UnreadOutputAfterTheEndIsDroppedOnceNotPerLine) {
  TPagePipes pipes;
  const auto start = std::chrono::steady_clock::now();
  {
    TPageChannel channel(pipes.HostIn, pipes.HostOut, {}, {});
    channel.Start();
    pipes.EndInput();
    while (!channel.Closed()) std::this_thread::yield();
    for (int i = 0; i < 300; ++i) channel.WriteLine(std::string(1000, 'w'));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace vantrel::test
