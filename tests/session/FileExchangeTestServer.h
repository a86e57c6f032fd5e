// A small HTTP/1.1 server on 127.0.0.1 for the file-exchange tests, optionally over TLS: it serves
// one connection at a time, records each request as received (head and body) and answers it with
// the next scripted raw reply (the last one repeats). A reply marked silent is never sent: the
// connection is held until the server is destroyed. A reply that starts with kDrip sends its head
// at once and then its body one byte every 200 ms.
#pragma once

#include <openssl/ssl.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace vantrel::test {

struct TRecordedRequest {
  std::string RequestLine;
  std::vector<std::string> Headers;  // "Name: value", in order
  std::string Body;
  std::string Header(const std::string& prmName) const;  // value, or empty
};

class THttpTestServer {
 public:
  static constexpr const char* kSilent = "<silent>";
  static constexpr const char* kDrip = "<drip>";

  explicit THttpTestServer(bool prmTls = false);
  // Stops the serving thread and joins it.
  ~THttpTestServer();
  THttpTestServer(const THttpTestServer&) = delete;
  THttpTestServer& operator=(const THttpTestServer&) = delete;

  int Port() const { return m_Port; }
  void Script(std::vector<std::string> prmReplies);
  std::vector<TRecordedRequest> Requests();
  // Blocks until prmCount requests were received; false when the server stopped first.
  bool WaitForRequests(size_t prmCount);

  // A plain reply with Content-Length.
  static std::string Reply(int prmCode, const std::string& prmBody,
                           const std::string& prmExtraHeaders = "");

 private:
  void ServeThd();
  void ServeOne(int prmFd);
  bool ReadRequest(int prmFd, SSL* prmSsl, TRecordedRequest& prmReq);

  SSL_CTX* m_Ctx = nullptr;
  int m_ListenFd = -1;
  int m_Port = 0;
  TEvent m_Stop{true};
  std::mutex m_Lock;
  std::condition_variable m_Changed;
  std::deque<std::string> m_Replies;
  std::vector<TRecordedRequest> m_Requests;
  bool m_Stopped = false;
  std::thread m_Thread;
};

}  // namespace vantrel::test
