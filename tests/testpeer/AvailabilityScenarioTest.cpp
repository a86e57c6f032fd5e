// Reading availability scenarios: the order-keeping keys, the errors that name a misspelt or
// mistyped key, the fault windows, and the demo file shipped with the program.
#include <gtest/gtest.h>

#include <string>

#include "diag/Exceptions.h"
#include "testpeer/AvailabilityScenario.h"

namespace vantrel::testpeer {
namespace {

std::string ErrorOf(const std::string& prmJson) {
  try {
    AvailScenarioFromJson(prmJson);
  } catch (const EBaseException& e) {
    return e.GetMsg();
  }
  return "(accepted)";
}

TEST(AvailabilityScenario, KeysKeepTheirWrittenOrder) {
  TAvailScenario sc = AvailScenarioFromJson(R"({
    "settings": {"zeta": "1", "alpha": 2},
    "hosts": [{"State": 2, "ID": "h1", "attrs": {"Extra": "x"}, "Desc": "d",
               "provParams": {"z": "1", "a": "2"}, "availStates": [0, 4]}],
    "apps": [{"id": "a1", "Width": 10, "Name": "n"}],
    "farms": [{"id": 3, "Servers": "s,"}],
    "policy": {"text": "Enabled", "Policies": "abc", "ExtAudit": 1},
    "rdpPort": null, "port": 9090
  })");
  EXPECT_EQ(sc.Settings, (TNameValues{{"zeta", "1"}, {"alpha", "2"}}));
  ASSERT_EQ(sc.Hosts.size(), 1u);
  EXPECT_EQ(sc.Hosts[0].Attrs,
            (TNameValues{{"State", "2"}, {"ID", "h1"}, {"Extra", "x"}, {"Desc", "d"}}));
  EXPECT_EQ(sc.Hosts[0].ProvParams, (TNameValues{{"z", "1"}, {"a", "2"}}));
  EXPECT_EQ(sc.Hosts[0].AvailStates, (std::vector<int>{0, 4}));
  EXPECT_EQ(sc.Apps[0].Attrs, (TNameValues{{"Width", "10"}, {"Name", "n"}}));
  EXPECT_EQ(sc.Farms[0].ID, "3");
  EXPECT_EQ(sc.PolicyText, "Enabled");
  EXPECT_EQ(sc.PolicyAttrs, (TNameValues{{"Policies", "abc"}, {"ExtAudit", "1"}}));
  EXPECT_FALSE(sc.RDPPort);
  EXPECT_EQ(sc.Port, 9090);
  // A desktop without its own sequence is ready at once.
  EXPECT_EQ(AvailScenarioFromJson(R"({"hosts": [{"ID": "x"}]})").Hosts[0].AvailStates,
            (std::vector<int>{3}));
}

TEST(AvailabilityScenario, MistakesNameTheirKey) {
  struct TCase {
    const char* Json;
    const char* Expected;
  };
  const TCase cases[] = {
      {"[1]", "must be a JSON object"},
      {"{", "not valid JSON"},
      {R"({"verson": "4.0.3"})", "\"verson\" is not a known scenario key"},
      {R"({"port": 70000})", "\"port\" must be between 0 and 65535"},
      {R"({"port": "80"})", "\"port\" must be an integer"},
      {R"({"hosts": [{"ID": "a", "Stat": 1}]})", "\"hosts[0].Stat\" is not a known desktop key"},
      {R"({"hosts": [{"ID": "a"}, {"State": [1]}]})", "\"hosts[1].State\" must be a string"},
      {R"({"hosts": [{"availStates": []}]})", "needs at least one state"},
      {R"({"hosts": [{"SessInfo": "a@b", "sessUser": "u"}]})", "both SessInfo and sessUser"},
      {R"({"hosts": {}})", "\"hosts\" must be an array"},
      {R"({"apps": [{"Nme": "x"}]})", "\"apps[].Nme\" is not a known key"},
      {R"({"faults": [{"path": "query/info"}]})", "\"faults[0].path\" must begin with"},
      {R"({"faults": [{"path": "/a", "status": 99}]})", "\"faults[0].status\" must be between"},
      {R"({"faults": [{"path": "/a", "silent": 1}]})", "\"faults[0].silent\" must be true or"},
      {R"({"faults": [{"path": "/a", "sleep": 1}]})", "\"faults[0].sleep\" is not a known fault"},
      {R"({"icons": {"c1": "abc"}})", "\"icons.c1\" must be Base64 text"},
      {R"({"clientVerification": {"DeviceId": 2}})", "\"clientVerification.DeviceId\""},
      {R"({"appServers": {"a": {"host": "x"}}})", "\"appServers.a.host\" is not a known"},
  };
  for (const TCase& c : cases) {
    std::string error = ErrorOf(c.Json);
    EXPECT_NE(error.find(c.Expected), std::string::npos) << c.Json << " gave: " << error;
  }
}

TEST(AvailabilityScenario, FaultWindowsCountRequestsPerPath) {
  TAvailScenario sc = AvailScenarioFromJson(R"({"faults": [
      {"path": "/query/info", "skip": 1, "count": 2, "status": 500},
      {"path": "/query/info", "body": "later"},
      {"path": "/query/hosts", "silent": true}]})");
  EXPECT_EQ(sc.FindFault("/query/info", 1)->Body, "later");
  EXPECT_EQ(sc.FindFault("/query/info", 2)->Status, 500);
  EXPECT_EQ(sc.FindFault("/query/info", 3)->Status, 500);
  EXPECT_EQ(sc.FindFault("/query/info", 4)->Status, 0);
  EXPECT_TRUE(sc.FindFault("/query/hosts", 1000)->Silent);
  EXPECT_EQ(sc.FindFault("/query/avail", 1), nullptr);
}

TEST(AvailabilityScenario, DesktopsAreFoundByIdBeforeAddress) {
  TAvailScenario sc = AvailScenarioFromJson(R"({"hosts": [
      {"address": "10.0.0.6", "ID": "a"}, {"address": "10.0.0.7", "ID": "10.0.0.6"}]})");
  EXPECT_EQ(sc.FindHost("10.0.0.6")->ID(), "10.0.0.6");
  EXPECT_EQ(sc.FindHost("10.0.0.7")->ID(), "10.0.0.6");
  EXPECT_EQ(sc.FindHost("a")->Address, "10.0.0.6");
  EXPECT_EQ(sc.FindHost(""), nullptr);
  EXPECT_EQ(sc.FindHost("b"), nullptr);
}

TEST(AvailabilityScenario, ShippedDemoScenarioIsValid) {
  std::string path = VANTREL_TESTPEER_DEMO;
  path = path.substr(0, path.rfind('/') + 1) + "avail-demo.json";
  TAvailScenario sc = AvailScenarioFromFile(path);
  EXPECT_FALSE(sc.Hosts.empty());
  EXPECT_FALSE(sc.Instance.empty());
  EXPECT_THROW(AvailScenarioFromFile(path + ".missing"), EBaseException);
}

}  // namespace
}  // namespace vantrel::testpeer
