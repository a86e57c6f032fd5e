#include "host/vantreltcs/NativeOpen.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "diag/Exceptions.h"
#include "diag/WriteAll.h"
#include "host/vantreltcs/PageFraming.h"
#include "host/vantreltcs/StartParams.h"

namespace vantrel::host {

namespace {

constexpr char kOpenPlace[] = "open params";

std::string Dump(const TJson& prmValue) {
  return prmValue.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

// Reads exactly prmSize bytes into prmOut by prmDeadline; false with the reason otherwise.
bool ReadExact(int prmFd, int prmStopFd, std::chrono::steady_clock::time_point prmDeadline,
               size_t prmSize, std::string& prmOut, std::string& prmWhy) {
  prmOut.resize(prmSize);
  size_t done = 0;
  while (done < prmSize) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        prmDeadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      prmWhy = "no open request came in time";
      return false;
    }
    pollfd fds[2] = {{prmFd, POLLIN, 0}, {prmStopFd, POLLIN, 0}};
    const int n = poll(fds, prmStopFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      prmWhy = "the input cannot be waited for";
      return false;
    }
    if (n == 0) continue;
    if (prmStopFd >= 0 && fds[1].revents != 0) {
      prmWhy = "stopped before the open request";
      return false;
    }
    const ssize_t got = read(prmFd, prmOut.data() + done, prmSize - done);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      prmWhy = done == 0 && prmSize == kNativeHeaderSize ? "the input ended before the open request"
                                                         : "the input ended inside a message";
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

TOpenRequest ParseOpenRequest(const std::string& prmMessage) {
  if (!IsUtf8(prmMessage) || JsonNestingDepth(prmMessage) > kMaxPageNesting)
    throw EBaseException("malformed open request: not JSON");
  const TJson msg = TJson::parse(prmMessage, nullptr, false);
  if (msg.is_discarded()) throw EBaseException("malformed open request: not JSON");
  if (!msg.is_object() || !msg.contains("open") || !msg["open"].is_object())
    throw EBaseException("the first message must be an open request");
  const TJson& open = msg["open"];
  TOpenRequest r;
  const TJson origin = open.value("origin", TJson());
  if (!origin.is_string() || origin.get<std::string>().empty())
    throw EBaseException("the open request names no origin");
  r.Origin = origin.get<std::string>();
  if (open.contains("params")) {
    if (!open["params"].is_object()) throw EBaseException("\"params\" must be an object");
    r.Params = open["params"];
  }
  const TJson dialogs = open.value("dialogs", TJson("native"));
  if (dialogs == "page")
    r.Dialogs = TDialogPlace::Page;
  else if (dialogs != "native")
    throw EBaseException("\"dialogs\" must be \"page\" or \"native\"");
  return r;
}

TMapPropertyBag OpenParams(const TOpenRequest& prmRequest) {
  TMapPropertyBag bag;
  TStartParamChecker checker(bag);
  for (const auto& [name, value] : prmRequest.Params.items()) {
    // Checked before the type, so an unknown name is named as such whatever its value.
    checker.Add(name, value.is_string() ? value.get<std::string>() : std::string(), kOpenPlace);
    if (!value.is_string())
      throw EBaseException(std::string(kOpenPlace) + ": the value of " + name + " must be a text");
  }
  return bag;
}

std::string EncodeOpened() {
  return Dump({{"opened", true}});
}

std::string EncodeNotOpened(const std::string& prmError) {
  return Dump({{"opened", false}, {"error", prmError}});
}

std::string PortalNotAllowed(const std::string& prmOrigin) {
  return "portal not allowed: " + prmOrigin;
}

bool ReadFirstFrame(int prmFd, int prmStopFd, int prmTimeoutMs, std::string& prmMessage,
                    std::string& prmWhy) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  std::string header;
  if (!ReadExact(prmFd, prmStopFd, deadline, kNativeHeaderSize, header, prmWhy)) return false;
  TNativeFrameDecoder frames;
  frames.Feed(header);
  if (frames.Announced() > kMaxNativeMessage) {
    prmWhy = "the first message announces " + std::to_string(frames.Announced()) +
             " bytes, more than " + std::to_string(kMaxNativeMessage);
    return false;
  }
  return ReadExact(prmFd, prmStopFd, deadline, frames.Announced(), prmMessage, prmWhy);
}

bool WriteFrameNow(int prmFd, const std::string& prmMessage) {
  std::string frame;
  if (!EncodeNativeFrame(prmMessage, frame)) return false;
  return WriteAll(prmFd, frame);
}

}  // namespace vantrel::host
