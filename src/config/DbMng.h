// The per-session configuration store: filled from the portal's configuration string (Load) and
// from the availability server's "Settings" element (LoadXML), then read everywhere.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class TXmlNode;
struct TDBMngXmlItems;
struct TRdpOptionTable;

// No lock: Load runs on the control's thread, LoadXML and the four setters named there on the
// connect thread, everyone else only reads. The one field polled across threads is the ready flag;
// it is written with release order after a load, so a reader that sees 1 also sees the load.
class TDBMng {
 public:
  TDBMng();
  TDBMng(const TDBMng&) = delete;
  TDBMng& operator=(const TDBMng&) = delete;

  // The settings element of the availability server's information reply. A non-integer text in
  // an integer element (other than "screensize" and "colordepth") raises EBaseException and
  // leaves the load there: earlier elements stay applied, the ready flag stays 0.
  void LoadXML(const TXmlNode& prmCfg);
  // The configuration string as the page gave it (program text, UTF-8). Never raises.
  void Load(std::string_view prmCfg);
  // The element names LoadXML reads, in its reading order; for tools that must cover them all.
  static std::vector<std::string_view> XmlSettingNames();

  void SetTSAgentURL(const std::string& prmURL) { m_TSAgentURL = prmURL; }
  const std::string& GetTSAgentURL() const { return m_TSAgentURL; }
  const std::string& GetTSAgentVersion() const { return m_TSAgentVersion; }
  const std::string& GetXenAppClientURL() const { return m_XenAppClientURL; }
  const std::string& GetXenAppProxy() const { return m_XenAppClientProxy; }
  void SetDomain(const std::string& prmDomain) { m_Domain = prmDomain; }
  const std::string& GetDomain() const { return m_Domain; }
  void SetSSO(bool prmSSO) { m_SSO = prmSSO; }
  bool GetSSO() const { return m_SSO; }
  int GetFlagConfig() const { return m_FlagGetConfigFinished.load(std::memory_order_acquire); }

  void SetDefHeight(int prmHeight) { m_DefHeight = prmHeight; }
  int GetDefHeight() const { return m_DefHeight; }
  void SetDefWidth(int prmWidth) { m_DefWidth = prmWidth; }
  int GetDefWidth() const { return m_DefWidth; }
  void SetDefSize(int prmSize) { m_DefSize = prmSize; }
  int GetDefSize() const { return m_DefSize; }
  void SetDefColorDepth(int prmDepth) { m_DefColorDepth = prmDepth; }
  int GetDefColorDepth() const { return m_DefColorDepth; }

  void SetRedir(bool prmDrives, bool prmPrinters, bool prmPorts, bool prmSmartCards,
                bool prmClipboard, bool prmPOS);
  bool GetRedirDrives() const { return m_RedirDrives; }
  bool GetRedirPrinters() const { return m_RedirPrinters; }
  bool GetRedirPorts() const { return m_RedirPorts; }
  bool GetRedirSmartCards() const { return m_RedirSmartCards; }
  bool GetRedirClipboard() const { return m_RedirClipboard; }
  bool GetRedirPOS() const { return m_RedirPOS; }
  void SetAllowRedirConfig(bool prmAllow) { m_AllowRedirConfig = prmAllow; }
  bool GetAllowRedirConfig() const { return m_AllowRedirConfig; }

  int GetPluginsCount() const { return static_cast<int>(m_Plugins.size()); }
  // The plug-in's name without its "required" mark; empty outside the list.
  std::string GetPluginName(int prmIndex) const;
  // True when the entry exists and carries the leading "*".
  bool IsPluginReq(int prmIndex) const;

  const std::string& GetAgentProxy() const { return m_AgentProxy; }
  bool FilesStoredLocally() const { return m_FilesStoredLocally; }
  const std::string& GetDefHost() const { return m_DefHost; }
  bool OstraEnabled() const { return m_OstraEnabled; }
  bool AllowCustomDest() const { return m_AllowCustomDest; }
  void SetAllowCustomDest(bool prmFlag) { m_AllowCustomDest = prmFlag; }
  const std::string& GetOstraServer() const { return m_OstraServer; }
  // Also marks the availability server as in use.
  void SetOstraServer(const std::string& prmServer);

  bool GetStartupoptions() const { return m_StartupOptions; }
  bool GetAutoStart() const { return m_AutoStart; }
  bool GetAutoClose() const { return m_AutoClose; }
  bool GetHideOnConnect() const { return m_HideOnConnect; }
  bool GetAllowConnectToConsole() const { return m_AllowConnectToConsole; }
  bool GetEnableGUI() const { return m_EnableGUI; }
  void SetEnableGUI(bool prmEnable) { m_EnableGUI = prmEnable; }
  bool GetEnablePowerMng() const { return m_EnablePowerMng; }

  // Performance switches; true means the feature is off.
  bool GetBitmapCache() const { return m_DisableBitmapCache; }
  bool GetWallpaper() const { return m_DisableWallpaper; }
  bool GetFullWindowDrag() const { return m_DisableFullWindowDrag; }
  bool GetMenuAnim() const { return m_DisableMenuAnim; }
  bool GetTheme() const { return m_DisableTheme; }

  int GetIdleAlert() const { return m_IdleAlert; }
  int GetKeepAlive() const { return m_KeepAlive; }
  int GetIdleTimeoutKM() const { return m_IdleTimeout_km; }
  int GetLifetimeAlert() const { return m_LifetimeAlert; }
  const std::string& GetOstraInstance() const { return m_OstraInst; }
  void SetOstraInstance(const std::string& prmInst) { m_OstraInst = prmInst; }
  bool GetAutoLaunchSingleDesktop() const { return m_AutoLaunchSingleDesktop; }
  bool GetAutoLogoutSingleDesktop() const { return m_AutoLogoutSingleDesktop; }

  void SetRDPPort(int prmPort) { m_RDPPort = prmPort; }
  int GetRDPPort() const { return m_RDPPort; }
  int GetKeyboardHook() const { return m_KeyboardHook; }
  int GetAudioMode() const { return m_AudioMode; }
  int GetConnectionType() const { return m_ConnectionType; }
  int GetGatewayusagemethod() const { return m_Gatewayusagemethod; }
  int GetGatewaycredentialssource() const { return m_Gatewaycredentialssource; }
  int GetAutoreconnectMaxRetries() const { return m_AutoreconnectMaxRetries; }
  void SetType(int prmType) { m_Type = prmType; }

  // m_EnableSecurityRDP for a Morv session (type 2), otherwise 0.
  int GetSecurityRDPFlag() const;
  // 0 while security-RDP is 1 or for a Pelx session (type 1), else m_AuthenticationLevel.
  int GetAuthenticationLevel() const;

  bool GetIOSKeyboardPreview() const { return m_iOSKeyboardPreview; }
  bool GetMonitorSpan() const { return m_MonitorSpan; }
  bool GetMultimon() const { return m_Multimon; }
  bool GetSmartSizing() const { return m_SmartSizing; }
  bool GetEnablecredsspsupport() const { return m_Enablecredsspsupport; }
  bool GetAudiocapturemode() const { return m_Audiocapturemode; }
  bool GetCompression() const { return m_Compression; }
  bool GetVideoplaybackmode() const { return m_Videoplaybackmode; }
  bool GetAllowFontSmoothing() const { return m_AllowFontSmoothing; }
  bool GetAllowDesktopComposition() const { return m_AllowDesktopComposition; }
  bool GetDisableCursorSetting() const { return m_DisableCursorSetting; }
  bool GetRedirectdirectx() const { return m_Redirectdirectx; }
  bool GetAutoreconnectionEnabled() const { return m_AutoreconnectionEnabled; }
  bool GetPromptForCredentials() const { return m_PromptForCredentials; }
  bool GetNegotiateSecurityLayer() const { return m_NegotiateSecurityLayer; }
  bool GetGatewayprofileusagemethod() const { return m_Gatewayprofileusagemethod; }
  bool GetPromptcredentialonce() const { return m_Promptcredentialonce; }
  bool GetUseRedirectionServerName() const { return m_UseRedirectionServerName; }
  bool GetNetworkautodetect() const { return m_Networkautodetect; }
  bool GetBandwidthautodetect() const { return m_Bandwidthautodetect; }
  bool GetEnableworkspacereconnect() const { return m_Enableworkspacereconnect; }
  bool GetDisableremoteappcapscheck() const { return m_Disableremoteappcapscheck; }
  bool GetDisableconnectionsharing() const { return m_Disableconnectionsharing; }
  bool GetShowRdpFile() const { return m_ShowRdpFile; }
  bool GetVaildAppSize() const { return m_ValidAppSize; }
  bool GetHideConnectionBar() const { return m_HideConnectionBar; }
  // Logs "GetIndependently : True" or "... : False".
  bool GetIndependently() const;

  void SetExtraAuth(bool vdiAuthEnable) { m_ExtraAuth = vdiAuthEnable; }
  bool GetExtraAuth() const { return m_ExtraAuth; }

  // Fixed answers for the ICA launch.
  std::string XenAppGetClientNamePrefix() const { return std::string(); }
  void XenAppGetSize(int& prmWidth, int& prmHeight) const;
  bool XenAppIsCustomSize() const { return true; }

 private:
  friend struct TDBMngXmlItems;
  friend struct TRdpOptionTable;

  // Splits the first item of the configuration string: agent URL, "#VERSION=" and version,
  // "," and the Citrix client URL.
  void ExtractAgentInfo(std::string_view prmInfo);
  // Applies item prmNo (1-based) of the configuration string.
  void LoadItem(int prmNo, std::string_view prmItem);
  void SetFlagFinished() { m_FlagGetConfigFinished.store(1, std::memory_order_release); }

  // The RDP client options among these fields have their initial values in the options table
  // (RdpOptions.cpp); the constructor sets them from there.
  std::string m_TSAgentURL;
  std::string m_TSAgentVersion;
  std::string m_XenAppClientURL;
  std::string m_XenAppClientProxy;
  std::string m_Domain;
  bool m_SSO = false;
  std::atomic<int> m_FlagGetConfigFinished{0};
  int m_DefHeight = 480;
  int m_DefWidth = 640;
  int m_DefSize = 0;
  int m_DefColorDepth = 1;
  bool m_RedirDrives = false;
  bool m_RedirPrinters = false;
  bool m_RedirPorts = false;
  bool m_RedirSmartCards = false;
  bool m_RedirClipboard = false;
  bool m_RedirPOS = false;
  bool m_AllowRedirConfig = false;
  std::vector<std::string> m_Plugins;
  std::string m_AgentProxy;
  bool m_FilesStoredLocally = false;
  std::string m_DefHost;
  bool m_OstraEnabled = false;
  bool m_AllowCustomDest = false;
  std::string m_OstraServer;
  bool m_StartupOptions = false;
  bool m_AutoStart = false;
  bool m_AutoClose = false;
  bool m_HideOnConnect = false;
  bool m_AllowConnectToConsole = false;
  bool m_EnableGUI = true;
  bool m_EnablePowerMng = false;
  bool m_DisableBitmapCache = true;
  bool m_DisableWallpaper;
  bool m_DisableFullWindowDrag;
  bool m_DisableMenuAnim;
  bool m_DisableTheme;
  int m_IdleAlert = 0;
  int m_KeepAlive = 0;
  int m_EnableSecurityRDP = 1;
  int m_LifetimeAlert = 0;
  int m_IdleTimeout_km = 0;
  std::string m_OstraInst = "default";
  bool m_AutoLaunchSingleDesktop = false;
  bool m_AutoLogoutSingleDesktop = false;
  int m_RDPPort = 3389;
  int m_KeyboardHook;
  int m_AudioMode;
  int m_ConnectionType;
  int m_Gatewayusagemethod;
  int m_Gatewaycredentialssource;
  int m_AutoreconnectMaxRetries;
  int m_AuthenticationLevel;
  int m_Type = 0;
  bool m_iOSKeyboardPreview = false;
  bool m_MonitorSpan;
  bool m_Multimon;
  bool m_SmartSizing;
  bool m_Enablecredsspsupport;
  bool m_HideConnectionBar;
  bool m_Audiocapturemode;
  bool m_Compression;
  bool m_Videoplaybackmode;
  bool m_AllowFontSmoothing;
  bool m_AllowDesktopComposition;
  bool m_DisableCursorSetting;
  bool m_Redirectdirectx;
  bool m_AutoreconnectionEnabled;
  bool m_PromptForCredentials;
  bool m_NegotiateSecurityLayer;
  bool m_Gatewayprofileusagemethod;
  bool m_Promptcredentialonce;
  bool m_UseRedirectionServerName;
  bool m_Networkautodetect;
  bool m_Bandwidthautodetect;
  bool m_Enableworkspacereconnect;
  bool m_Disableremoteappcapscheck;
  bool m_Disableconnectionsharing;
  bool m_Independently = false;
  bool m_ShowRdpFile = true;
  bool m_ValidAppSize = false;
  bool m_ExtraAuth = false;
};

}  // namespace vantrel
