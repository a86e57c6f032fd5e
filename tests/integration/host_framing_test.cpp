// The browser's framing on the page channel: what a stream of frames does to the channel (a
// message answered, refused and the channel going on, or the channel ended), and the bound on
// what the host sends.
#include <gtest/gtest.h>

#include "host/vantreltcs/HostLoop.h"
#include "host/vantreltcs/PageChannel.h"
#include "host/vantreltcs/PageDialogs.h"
#include "integration/host_pipes.h"

namespace vantrel::test {
namespace {

using namespace host;

std::string Frame(const std::string& prmMessage) {
  std::string out;
  EncodeNativeFrame(prmMessage, out);
  return out;
}

// A call padded with blanks to exactly prmSize bytes.
std::string CallOfSize(size_t prmSize) {
  std::string call = R"({"id":1,"get":"Count"})";
  return call + std::string(prmSize - call.size(), ' ');
}

const std::string kReply1 = R"({"id":1,"result":7,"out":[]})";
const std::string kReply2 = R"({"id":2,"result":7,"out":[]})";
const std::string kCall2 = Frame(R"({"id":2,"get":"Count"})");

class HostFraming : public ::testing::Test {
 protected:
  HostFraming() {
    m_Table.Add(DispGetI4("Count", 10, [] { return 7; }));
    m_Table.Add(DispGetBStr("Big", 11, [] { return std::string(kMaxNativeMessage, 'b'); }));
  }

  // Feeds prmInput, ends it, serves the calls and returns every message the host sent.
  std::vector<std::string> Exchange(const std::string& prmInput) {
    TPagePipes pipes;
    THostLoop loop;
    TPageChannel channel(
        pipes.HostIn, pipes.HostOut, [&] { loop.CallQueued(); }, [&] { loop.ChannelClosed(); }, -1,
        {}, TFraming::Native);
    channel.Start();
    std::thread page([&] {
      pipes.Send(prmInput);
      pipes.EndInput();
    });
    loop.Run(m_Window, m_Table, channel);
    page.join();
    std::vector<std::string> out;
    for (std::string m; (m = pipes.Frame(200)) != "<none>";) out.push_back(m);
    return out;
  }

  TWindow m_Window{[](uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; }};
  TDispatchTable m_Table;
};

TEST_F(HostFraming, IncomingFramesAreTakenWholeOrEndTheChannel) {
  const std::string notJson = R"({"id":null,"error":"malformed request: not JSON"})";
  const std::string notUtf8 = R"({"id":null,"error":"malformed request: not UTF-8"})";
  const struct {
    const char* Name;
    std::string Input;
    std::vector<std::string> Out;
  } cases[] = {
      {"empty message", Frame("") + kCall2, {notJson, kReply2}},
      {"small", Frame(CallOfSize(30)) + kCall2, {kReply1, kReply2}},
      {"exactly the bound", Frame(CallOfSize(kMaxNativeMessage)) + kCall2, {kReply1, kReply2}},
      // The announced length alone ends it: nothing after it can be found again.
      {"one byte over the bound",
       [] {
         const uint32_t length = kMaxNativeMessage + 1;
         return std::string(reinterpret_cast<const char*>(&length), sizeof length) + kCall2;
       }(),
       {}},
      {"truncated length", kCall2 + std::string("\x05\x00", 2), {kReply2}},
      {"truncated body", kCall2 + Frame(CallOfSize(40)).substr(0, 20), {kReply2}},
      {"invalid UTF-8", Frame("{\"id\":1,\"get\":\"\xC3\x28\"}") + kCall2, {notUtf8, kReply2}},
      {"overlong UTF-8", Frame("{\"id\":1,\"get\":\"\xC0\xAF\"}") + kCall2, {notUtf8, kReply2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Exchange(c.Input), c.Out);
  }
}

TEST_F(HostFraming, NothingLargerThanTheBoundGoesOut) {
  std::string out;
  EXPECT_TRUE(EncodeNativeFrame(std::string(kMaxNativeMessage, 'x'), out));
  EXPECT_EQ(out.size(), kNativeHeaderSize + kMaxNativeMessage);
  EXPECT_FALSE(EncodeNativeFrame(std::string(kMaxNativeMessage + 1, 'x'), out));
  EXPECT_EQ(out.size(), kNativeHeaderSize + kMaxNativeMessage);  // untouched
  // A reply that does not fit becomes an error for its call; the channel goes on.
  EXPECT_EQ(Exchange(Frame(R"({"id":5,"get":"Big"})") + kCall2),
            (std::vector<std::string>{R"({"id":5,"error":"reply too large"})", kReply2}));
  // A dialog too large to send is answered as dismissed at once, not waited for.
  TPagePipes pipes;
  TPageChannel channel(pipes.HostIn, pipes.HostOut, {}, {}, -1, {}, TFraming::Native);
  channel.Start();
  TPageDialogs dialogs(channel);
  EXPECT_EQ(dialogs.MessageBox(std::string(kMaxNativeMessage, 'q'), "c", MB_YESNO), IDNO);
  // The channel goes on: the next dialog reaches the page and its answer counts.
  std::thread page([&] {
    const TJson dialog = pipes.FrameJson();
    EXPECT_EQ(dialog["text"], "Small?");
    pipes.SendFrame(R"({"dialog_reply":)" + dialog["id"].dump() + R"(,"result":"yes"})");
  });
  EXPECT_EQ(dialogs.MessageBox("Small?", "c", MB_YESNO), IDYES);
  page.join();
  pipes.EndInput();
}

}  // namespace
}  // namespace vantrel::test
