// The host runtime stand-in, as the agent natives rely on it: password
// buffers are never overrun or cut, settings may be absent, listeners run in
// registration order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/dirserv.h"
#include "host/orvanex.h"
#include "module/agent_helper_natives.h"

namespace {

TEST(HostRuntime, PasswordsFitOrAreNoValue) {
  Orvanex& host = Orvanex::instance();
  host.setPassword("k", "12345");
  host.setPassword("a", "b", "pair");
  host.setPassword("k", "67890");  // replaces
  struct Case {
    const char* name;
    const char* a;
    const char* b;  // null: the one-key form
    std::size_t len;
    int status;  // 0 or non-zero
    const char* want;
  };
  const Case cases[] = {
      {"fits", "k", nullptr, 6, 0, "67890"},
      {"one byte short", "k", nullptr, 5, 1, nullptr},
      {"pair", "a", "b", 132, 0, "pair"},
      {"pair is not the one-key form", "a", nullptr, 132, 1, nullptr},
      {"unknown", "zz", nullptr, 132, 1, nullptr},
      {"null key", nullptr, nullptr, 132, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buf[132];
    std::memset(buf, 'x', sizeof buf);
    const int st = c.b ? host.getPassword(c.a, c.b, buf, c.len) : host.getPassword(c.a, buf, c.len);
    EXPECT_EQ(st != 0, c.status != 0);
    if (c.want) {
      EXPECT_STREQ(buf, c.want);
    } else {
      EXPECT_EQ(buf[0], 'x');  // untouched
    }
  }
  char small[4];
  EXPECT_NE(host.decodePassword("toolong", small, sizeof small), 0);
  EXPECT_EQ(host.decodePassword("abc", small, sizeof small), 0);
  EXPECT_STREQ(small, "abc");
  EXPECT_NE(host.decodePassword(nullptr, small, sizeof small), 0);
}

TEST(HostRuntime, SettingsMayBeAbsent) {
  Orvanex& host = Orvanex::instance();
  host.setServes("dom");
  EXPECT_STREQ(host.getServes(), "dom");
  host.setServes(nullptr);
  EXPECT_EQ(host.getServes(), nullptr);
  EXPECT_EQ(host.getLocalAuthServices()[0], nullptr);
  host.setLocalAuthServices({"login", "ldap"});
  const char* const* list = host.getLocalAuthServices();
  EXPECT_STREQ(list[0], "login");
  EXPECT_STREQ(list[1], "ldap");
  EXPECT_EQ(list[2], nullptr);
  host.setThreadMap("map");
  EXPECT_EQ(host.getThreadMap(), "map");
  host.setThreadMap(nullptr);
  EXPECT_EQ(host.getThreadMap(), "");
}

TEST(HostRuntime, ListenersRunInRegistrationOrder) {
  std::vector<int> calls;
  struct Props : OrvanexPropertiesListener {
    Props(std::vector<int>* calls, int id) : calls(calls), id(id) {}
    void propertiesChanged() override { calls->push_back(id); }
    std::vector<int>* calls;
    int id;
  };
  struct Events : OrvEventListener {
    explicit Events(std::vector<int>* calls) : calls(calls) {}
    void handleEvent(const OrvEvent* event) override { calls->push_back(event == nullptr ? 100 : 101); }
    std::vector<int>* calls;
  };
  Orvanex& host = Orvanex::instance();
  host.addOrvanexPropertiesListener(new Props(&calls, 1));
  host.addOrvanexPropertiesListener(new Props(&calls, 2));
  host.addOrvanexPropertiesListener(nullptr);
  host.firePropertiesListeners();
  host.addOrvEventListener(new Events(&calls));
  host.fireEventListeners(nullptr);
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 100}));
}

TEST(HostRuntime, LoginTokensAndAssetMonitors) {
  EXPECT_FALSE(DirServ::isValidXLogin("u", "t"));
  DirServ::addXLogin("u", "t");
  EXPECT_TRUE(DirServ::isValidXLogin("u", "t"));
  EXPECT_FALSE(DirServ::isValidXLogin("u", "other"));
  EXPECT_FALSE(DirServ::isValidXLogin(nullptr, "t"));

  Orvanex& host = Orvanex::instance();
  host.startAssetMonitor("a1");
  host.startAssetMonitor("a1");
  host.startAssetMonitor("a2");
  host.stopAssetMonitor("a1");
  EXPECT_EQ(host.getMonitoredAssets(), std::vector<std::string>{"a2"});
}

TEST(AgentNatives, TablesCoverEveryHelperClass) {
  int count = 0;
  const AgentNativeTable* tables = agentNativeTables(&count);
  struct Want {
    const char* className;
    int methods;
  };
  const Want want[] = {
      {"com/vesk/orvanex/agent/AgentHelper", 28},
      {"com/vesk/orvanex/agent/DomainHelper", 4},
      {"com/vesk/orvanex/agent/asset/AssetMonitoringHelper", 2},
      {"com/vesk/orvanex/agent/OrvEventHelper", 2},
      {"com/vesk/orvanex/agent/asset/AssetMapperHelper", 1},
      {"com/vesk/orvanex/agent/LogHelper", 1},
      {"com/vesk/orvanex/agent/CiUpdateHelper", 1},
  };
  ASSERT_EQ(count, static_cast<int>(std::size(want)));
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(want[i].className);
    EXPECT_STREQ(tables[i].className, want[i].className);
    EXPECT_EQ(tables[i].count, want[i].methods);
    for (int m = 0; m < tables[i].count; ++m) EXPECT_NE(tables[i].methods[m].fnPtr, nullptr);
  }
}

}  // namespace
