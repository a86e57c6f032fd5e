#include "citrix/CitrixClient.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/TestEnv.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

TEST(CitrixClientTest, TheFoundClientGivesInstalledAndItsMajorVersion) {
  const std::string root = test::TestRoot() + "/citrix-client";
  fs::remove_all(root);
  fs::create_directories(root + "/pkginf");
  TIcaClientSources sources;
  sources.DefaultProgram = root + "/wfica";

  FindCitrixClient(sources);
  EXPECT_FALSE(XenAppClientInstalled());
  EXPECT_EQ(GetICAMajVersion(), 0);

  std::ofstream(sources.DefaultProgram) << "#!/bin/sh\n";
  chmod(sources.DefaultProgram.c_str(), 0755);
  FindCitrixClient(sources);
  EXPECT_TRUE(XenAppClientInstalled());
  EXPECT_EQ(CitrixClientLocation(), root);
  EXPECT_EQ(GetICAMajVersion(), 0) << "no version file";
  std::ofstream(root + "/pkginf/Ver.core.x86_64") << "24.2.0.65\n";
  EXPECT_EQ(GetICAMajVersion(), 24);
}

TEST(CitrixClientTest, MajorVersionIsTheNumberBeforeTheFirstDot) {
  const std::pair<const char*, int> cases[] = {{"24.2.0.65", 24}, {"7.0", 7}, {"13", 0},
                                               {"", 0},           {"x.1", 0}, {".5", 0}};
  for (const auto& [text, major] : cases) EXPECT_EQ(ICAMajorFromVersion(text), major) << text;
}

}  // namespace
}  // namespace vantrel
