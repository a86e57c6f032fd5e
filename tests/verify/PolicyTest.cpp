// The legacy policy check: masking round trips, the fixed answer order and the reply handling.
#include <gtest/gtest.h>

#include "diag/TextCodecs.h"
#include "verify/LegacyPolicy.h"
#include "verify/PolicyMask.h"
#include "verify/VerifyTestKit.h"

namespace vantrel::test {
namespace {

TEST(PolicyMask, RoundTripsForEachSaltLength) {
  for (size_t raw : {8u, 9u, 11u, 12u, 14u, 15u}) {  // Base64 salts of 12, 16 and 20 characters
    std::string salt = Base64Encode(std::string(raw, '\xC7'));
    ASSERT_TRUE(salt.size() == 12 || salt.size() == 16 || salt.size() == 20);
    for (std::string_view text : {"", "AVConfirm=1,FWEnabled=0,", "\x01\xff long text here"}) {
      std::string masked = MaskText(text, salt, ClvAnswerKey()), back;
      ASSERT_TRUE(UnmaskText(masked, ClvAnswerKey(), back));
      EXPECT_EQ(back, text);
      EXPECT_TRUE(UnmaskText(MaskText(text, DrawSalt(), ClvPolicyKey()), ClvPolicyKey(), back));
      EXPECT_EQ(back, text);
    }
  }
  EXPECT_EQ(ClvPolicyKey().size(), 15u);
  EXPECT_EQ(ClvAnswerKey().size(), 15u);
}

TEST(PolicyMask, RejectsWhatIsNotMasked) {
  std::string out = "x";
  for (std::string_view bad : {"not base64!", "QUJD", "", "%%%%"}) {
    EXPECT_FALSE(UnmaskText(bad, ClvPolicyKey(), out)) << bad;
    EXPECT_EQ(out, "");
  }
  // A salt length longer than what follows.
  std::string inner = Base64Encode("99abc");
  EXPECT_FALSE(UnmaskText(Base64Encode(XorRepeat(inner, ClvPolicyKey())), ClvPolicyKey(), out));
}

TEST(PolicyCheck, AnswersInFixedOrder) {
  TFakeProbes probes;
  probes.Classes[WSC_NAMESPACE1][WSC_ANTIVIRUS] = {Antivirus("ClamAV", "1", "FALSE")};
  struct {
    const char* List;
    const char* Plain;
    size_t Failures;
  } cases[] = {
      {"FWEnabled,AVConfirm", "AVConfirm=1,FWEnabled=0,", 1},
      {"\"fwconfirm\" avuptodate, Other", "AVUpToDate=0,FWConfirm=0,", 2},
      {"Nothing,Known", "", 0},
  };
  for (const auto& c : cases) {
    TPolicyAnswer answer = CLVEvaluate(probes, c.List);
    EXPECT_EQ(answer.Plain, c.Plain) << c.List;
    EXPECT_EQ(answer.Failures.size(), c.Failures) << c.List;
    std::string back;
    ASSERT_TRUE(UnmaskText(answer.Masked, ClvAnswerKey(), back));
    EXPECT_EQ(back, c.Plain);
  }
  probes.Classes.clear();
  probes.Health = 0;  // no product, but good antivirus health
  TPolicyAnswer answer = CLVEvaluate(probes, "AVConfirm");
  EXPECT_EQ(answer.Plain, "AVConfirm=1,");
  EXPECT_TRUE(answer.Failures.empty());
}

TEST(PolicyCheck, ReplyHandling) {
  TFakeProbes probes;
  probes.Firewall = TPlatformFirewall{"ufw", true};
  std::string policies = MaskText("FWEnabled,AVConfirm", DrawSalt(), ClvPolicyKey());
  struct {
    std::string Reply;
    bool Answered;
    std::string Failure;
    std::vector<std::string> Logged;
  } cases[] = {
      {"<r><ClientVerification Policies=\"" + policies + "\">Enabled</ClientVerification></r>",
       true,
       "",
       {"Anti-Virus policy failure, no anti-virus detected", "FW - ufw (Enabled)"}},
      {"<ClientVerification Policies=\"" + policies + "\">Disabled</ClientVerification>",
       false,
       "",
       {}},
      {"<ClientVerification Policies=\"plain\">Enabled</ClientVerification>",
       false,
       "invalid server response - ",
       {}},
      {"<r/>", false, "invalid server response - ", {}},
      {"garbage", false, "invalid server response - ", {}},
  };
  for (const auto& c : cases) {
    TRecordingLog log;
    TVerifyContext ctx{&log, nullptr, &probes};
    TPolicyCheck check = RunPolicyCheck(ctx, c.Reply, "");
    EXPECT_EQ(!check.Answer.empty(), c.Answered) << c.Reply;
    EXPECT_EQ(check.Failure, c.Failure) << c.Reply;
    EXPECT_EQ(log.Texts(), c.Logged) << c.Reply;
    std::string back;
    if (c.Answered) {
      ASSERT_TRUE(UnmaskText(check.Answer, ClvAnswerKey(), back));
      EXPECT_EQ(back, "AVConfirm=0,FWEnabled=1,");
    }
  }
}

}  // namespace
}  // namespace vantrel::test
