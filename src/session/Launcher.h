// TLauncher: the session's launches. A typed or listed desktop is reached through a loopback
// listener of the tunnel and the RDP client program started on a connection file; an RDP client
// control the page hosts itself is re-targeted at such a listener. XenApp applications and
// desktops served through ICA are handed to the local ICA client.
#pragma once

#include <memory>
#include <string>

#include "catalogue/ParamList.h"
#include "citrix/CitrixLaunch.h"
#include "citrix/XmlCitrixService.h"
#include "config/DbMng.h"
#include "session/DesktopLaunch.h"
#include "session/OstraClient.h"
#include "session/RdpClientControl.h"
#include "session/RdpFile.h"
#include "session/SessionContext.h"

namespace vantrel {

class TLauncher {
 public:
  TLauncher(TSessionContext& prmContext, TOstraClient& prmOstra);
  // Forgets the RDP client's record of the loopback server and removes the connection files.
  ~TLauncher();
  TLauncher(const TLauncher&) = delete;
  TLauncher& operator=(const TLauncher&) = delete;

  // --- settings (window thread, before start-up) ---
  void SetWorkingDir(const std::string& prmWorkDir) { m_WorkDir = prmWorkDir; }
  // The RDP client plug-ins the store lists that exist; reports each missing required one
  // (error 5).
  void FindPlugIns(TDBMng& prmDBMng);
  const std::string& GetPlugIns() const { return m_PlugIns; }

  // --- desktops; window thread ---
  // Failures are reported as errors 6, 7, 8, 10 and 11. prmPerfFlags, prmSound, prmSpan and
  // prmKeyboardHook are accepted but the store's values are used.
  void LaunchDesktop(const std::string& prmDest, int prmHostIndex, int prmWidth, int prmHeight,
                     int prmColorDepth, bool prmBitmapCaching, int prmPerfFlags, int prmSound,
                     bool prmConnectToConsole, bool prmSpan, bool prmSSO,
                     const std::string& prmStartApp, const std::string& prmWorkDir,
                     int prmKeyboardHook, TDBMng* prmDBMng);
  // Writes the connection file and starts the RDP client program on it; true once both were
  // attempted. Start failures are shown as error boxes.
  bool LaunchWinDesktop(const TWinDesktopParams& prmParams);
  // Re-targets a page-hosted RDP client control at a loopback listener for its server; false
  // when one of the control's property calls failed.
  bool SetRdpClient(IRdpClientControl& prmRDP);
  // The background clean-up of connection files (created with the first launch).
  TRdpLaunchWorker& LaunchWorker();

  // A published XenApp application in the ICA client, with its farm's credentials. Window thread.
  void LaunchXenApp(TXenApp& prmApp, TDBMng& prmDBMng);

  // --- what desktop and application launches share; window thread ---
  // prmHost itself when dotted, else resolved through the tunnel; reports error 7 when it has
  // no address.
  bool ResolveDestination(CAppMng& prmProtocol, const std::string& prmHost,
                          std::string& prmAddress);
  // A listener forwarding to prmAddress:prmPort with the store's security flags; reports error
  // 8 (extra prmHost) when the tunnel refused it.
  bool AddDestinationConn(CAppMng& prmProtocol, const std::string& prmAddress,
                          const std::string& prmHost, int prmPort, int& prmLocalPort);

 private:
  // The host's address (error 7) and a listener for it (error 8).
  bool OpenDesktopListener(CAppMng& prmProtocol, const std::string& prmHost, int prmPort,
                           int& prmLocalPort);
  // What the ICA launches use besides their arguments.
  TCitrixLaunchEnv CitrixEnv();
  // Waits prmMs on the window thread while keeping its messages flowing; false when the session
  // is going.
  bool LaunchPause(int prmMs);
  void PrepareTempFolder();
  void DeleteTempRdpFiles();

  TSessionContext& m_Context;
  TOstraClient& m_Ostra;
  std::string m_WorkDir;
  std::string m_PlugIns;
  // Asks the farms' XML services for the ICA launches; created with the first.
  std::unique_ptr<TXmlCitrixService> m_CitrixService;
  // Declared last so that it stops first; it touches only the connection-file folder.
  std::unique_ptr<TRdpLaunchWorker> m_LaunchWorker;
};

}  // namespace vantrel
