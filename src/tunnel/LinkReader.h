// The control thread of a link: reads what the gateway sends and hands it on, counts the idle
// seconds, and runs the owner's loss path once when the gateway closes the connection or sends
// what it should not have. Owned beside the link; Join ends and joins the thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "platform/Window.h"
#include "tunnel/TunnelLink.h"

namespace vantrel {

struct TLinkHandlers {
  // Plaintext from the gateway, in order. An exception means the stream is out of step: the
  // link counts as lost.
  std::function<void(const uint8_t* prmData, size_t prmLen)> Received;
  // Once per second without traffic from the gateway; prmIdle counts those seconds and the
  // handler may reset it.
  std::function<void(int& prmIdle)> Idle;
  // The loss path, with the reason for the log.
  std::function<void(const std::string& prmWhy)> Lost;
};

class CLinkReader {
 public:
  // prmLink outlives the reader.
  explicit CLinkReader(CTunnelLink& prmLink) : m_Link(prmLink) {}
  ~CLinkReader() { Join(nullptr); }
  CLinkReader(const CLinkReader&) = delete;
  CLinkReader& operator=(const CLinkReader&) = delete;

  // Starts the thread on an Opened link; the link becomes Halted when it cannot start (raises).
  void Start(TLinkHandlers prmHandlers);
  // Waits for the thread to return, handling prmWnd's messages meanwhile when called on its
  // thread (the loss path may be sending one to it); the link must be stopping or lost.
  void Join(HWND prmWnd);

 private:
  void Run();
  void Loop();

  CTunnelLink& m_Link;
  TLinkHandlers m_Handlers;
  std::thread m_Thd;
  // Signalled when the thread has returned.
  TEvent m_Done{true};
};

}  // namespace vantrel
