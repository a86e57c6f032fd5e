// Adapters from the kernel and WLAN interfaces through nl80211.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/nl80211.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

#include "diag/DebugLog.h"
#include "platform/ProbesLinux.h"

namespace vantrel {

namespace {

namespace fs = std::filesystem;

constexpr int kNetlinkTimeoutSeconds = 2;

int AdapterType(const fs::path& prmDir) {
  std::error_code ec;
  if (fs::exists(prmDir / "wireless", ec) || fs::exists(prmDir / "phy80211", ec))
    return ADAPTER_WLAN;
  std::ifstream in(prmDir / "type");
  int type = -1;
  in >> type;
  switch (type) {
    case 1:
      return ADAPTER_ETHERNET;
    case 512:
      return ADAPTER_PPP;
    case 772:
      return ADAPTER_LOOPBACK;
    default:
      return ADAPTER_OTHER;
  }
}

int OnInterface(nl_msg* prmMsg, void* prmArg) {
  auto* state = static_cast<TWlanState*>(prmArg);
  auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(prmMsg)));
  nlattr* attrs[NL80211_ATTR_MAX + 1] = {};
  if (nla_parse(attrs, NL80211_ATTR_MAX, genlmsg_attrdata(header, 0), genlmsg_attrlen(header, 0),
                nullptr) < 0)
    return NL_SKIP;
  if (attrs[NL80211_ATTR_IFTYPE] &&
      nla_get_u32(attrs[NL80211_ATTR_IFTYPE]) != NL80211_IFTYPE_STATION)
    return NL_SKIP;
  TWlanInterface itf;
  if (attrs[NL80211_ATTR_IFNAME]) itf.Name = nla_get_string(attrs[NL80211_ATTR_IFNAME]);
  if (nlattr* ssid = attrs[NL80211_ATTR_SSID]) {
    itf.Profile.assign(static_cast<const char*>(nla_data(ssid)),
                       static_cast<size_t>(std::max(0, nla_len(ssid))));
    itf.State = WLAN_CONNECTED;
  } else {
    itf.State = WLAN_DISCONNECTED;
  }
  state->Interfaces.push_back(std::move(itf));
  return NL_SKIP;
}

}  // namespace

std::vector<TAdapter> ReadAdapters() {
  std::vector<TAdapter> adapters;
  std::error_code ec;
  for (fs::directory_iterator it("/sys/class/net", ec), end; !ec && it != end; it.increment(ec))
    adapters.push_back({it->path().filename().string(), AdapterType(it->path()), {}});
  std::sort(adapters.begin(), adapters.end(),
            [](const TAdapter& a, const TAdapter& b) { return a.Name < b.Name; });
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name) continue;
      std::string name = a->ifa_name;
      name = name.substr(0, name.find(':'));  // address labels belong to their interface
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
      for (TAdapter& adapter : adapters)
        if (adapter.Name == name) adapter.Addresses.push_back(text);
    }
    freeifaddrs(list);
  }
  for (TAdapter& adapter : adapters)
    if (adapter.Addresses.empty()) adapter.Addresses.push_back("0.0.0.0");
  return adapters;
}

TWlanState ReadWlanInterfaces() {
  TWlanState state;
  std::unique_ptr<nl_sock, void (*)(nl_sock*)> sock(nl_socket_alloc(), nl_socket_free);
  if (!sock || genl_connect(sock.get()) < 0) {
    state.OpenError = WLAN_SERVICE_ABSENT;
    return state;
  }
  timeval timeout{kNetlinkTimeoutSeconds, 0};
  setsockopt(nl_socket_get_fd(sock.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  int family = genl_ctrl_resolve(sock.get(), NL80211_GENL_NAME);
  if (family < 0) {
    WriteDebugLog("WLAN: no nl80211 in this kernel");
    state.OpenError = WLAN_SERVICE_ABSENT;
    return state;
  }
  std::unique_ptr<nl_msg, void (*)(nl_msg*)> msg(nlmsg_alloc(), nlmsg_free);
  if (!msg || !genlmsg_put(msg.get(), NL_AUTO_PORT, NL_AUTO_SEQ, family, 0, NLM_F_DUMP,
                           NL80211_CMD_GET_INTERFACE, 0)) {
    state.EnumError = ENOMEM;
    return state;
  }
  nl_socket_modify_cb(sock.get(), NL_CB_VALID, NL_CB_CUSTOM, OnInterface, &state);
  int rc = nl_send_auto(sock.get(), msg.get());
  if (rc >= 0) rc = nl_recvmsgs_default(sock.get());
  if (rc < 0) {
    state.EnumError = -rc;
    state.Interfaces.clear();
  }
  return state;
}

}  // namespace vantrel
