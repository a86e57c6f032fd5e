// The action statements of a rule.
#include "diag/DebugLog.h"
#include "platform/Dialogs.h"
#include "verify/Handlers.h"
#include "verify/SecurityInventory.h"

namespace vantrel {

namespace {

const char* const kDialogCaption = "Client Verification";

void SendAll(const TVerifyContext& prmCtx, const std::vector<std::string>& prmLines,
             bool prmDebugToo) {
  if (!prmCtx.Protocol) return;
  for (const std::string& line : prmLines) {
    if (prmDebugToo) WriteDebugLog(line);
    prmCtx.Protocol->SendLogMsg(CLV_LOG_INFORMATION, CLV_PROTOCOL, line);
  }
}

class CLVActionLog : public CLVActionBase {
 public:
  std::string GetTag() const override { return "log"; }
  int Execute(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode prmAction) const override {
    if (!prmCtx.Protocol) return CLV_GO_ON;
    std::string priority = prmAction.Attr("Priority", "Critical");
    // An unknown priority is sent as critical, like a missing one, so it is never lost.
    int level = CLV_LOG_CRITICAL;
    if (priority == "Warning") level = CLV_LOG_WARNING;
    if (priority == "Information") level = CLV_LOG_INFORMATION;
    prmCtx.Protocol->SendLogMsg(level, "", prmAction.Text());
    return CLV_GO_ON;
  }
};

class CLVActionTermSess : public CLVActionBase {
 public:
  std::string GetTag() const override { return "termsess"; }
  int Execute(const TVerifyContext&, TRuleParams&, TXmlNode) const override {
    return CLV_TERMINATE;
  }
};

class CLVActionAlertUser : public CLVActionBase {
 public:
  std::string GetTag() const override { return "alertuser"; }
  int Execute(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode prmAction) const override {
    if (prmCtx.UI)
      prmCtx.UI->MessageBox(prmAction.Text(), kDialogCaption, MB_OK | MB_ICONINFORMATION);
    return CLV_GO_ON;
  }
};

class CLVActionPromptUser : public CLVActionBase {
 public:
  std::string GetTag() const override { return "promptuser"; }
  int Execute(const TVerifyContext& prmCtx, TRuleParams& prmParams,
              TXmlNode prmAction) const override {
    std::string first = prmAction.Attr("Option1", "Yes");
    std::string second = prmAction.Attr("Option2", "No");
    int answer = prmCtx.UI ? prmCtx.UI->AskButtons(prmAction.Text(), kDialogCaption, first, second)
                           : IDCANCEL;
    bool pressed = answer == IDYES || answer == IDNO;
    std::string choice = answer == IDYES ? first : answer == IDNO ? second : std::string();
    std::string param = prmAction.Attr("Param");
    if (!param.empty() && pressed) prmParams[param] = choice;
    std::string logText = prmAction.Attr("LogTxt");
    if (!logText.empty() && prmCtx.Protocol)
      prmCtx.Protocol->SendLogMsg(CLV_LOG_INFORMATION, "", logText + " <" + choice + ">");
    return CLV_GO_ON;
  }
};

class CLVActionSetParam : public CLVActionBase {
 public:
  std::string GetTag() const override { return "setparam"; }
  int Execute(const TVerifyContext&, TRuleParams& prmParams, TXmlNode prmAction) const override {
    std::string name = prmAction.Attr("Name");
    if (!name.empty()) prmParams[name] = prmAction.Text();
    return CLV_END_RULE;
  }
};

class CLVActionEndRule : public CLVActionBase {
 public:
  std::string GetTag() const override { return "endrule"; }
  int Execute(const TVerifyContext&, TRuleParams&, TXmlNode) const override { return CLV_END_RULE; }
};

// Sends one of the endpoint's inventories to the gateway's log, one message a line; with
// kDebugToo each line goes to the debug log as well. Nothing is probed without a gateway.
template <std::vector<std::string> (*kInventory)(IProbes&), bool kDebugToo>
class CLVActionSendInventory : public CLVActionBase {
 public:
  int Execute(const TVerifyContext& prmCtx, TRuleParams&, TXmlNode) const override {
    if (prmCtx.Protocol) SendAll(prmCtx, kInventory(ProbesOf(prmCtx)), kDebugToo);
    return CLV_GO_ON;
  }
};

class CLVActionWSC : public CLVActionSendInventory<WinscLogLines, true> {
 public:
  std::string GetTag() const override { return "winsclog"; }
};

class CLVActionAuditLog : public CLVActionSendInventory<AuditList, false> {
 public:
  std::string GetTag() const override { return "extaudit"; }
};

}  // namespace

std::vector<const CLVActionBase*> BuiltinActions() {
  return HandlerSingletons<CLVActionBase, CLVActionLog, CLVActionTermSess, CLVActionAlertUser,
                           CLVActionPromptUser, CLVActionSetParam, CLVActionEndRule, CLVActionWSC,
                           CLVActionAuditLog>();
}

}  // namespace vantrel
