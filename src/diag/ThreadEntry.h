// The one guard at the entry of every thread body (and of every call from outside that must not
// let a failure escape): nothing raised inside leaves it, and what was raised reaches the log.
#pragma once

#include <string>
#include <utility>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

// Runs prmBody. An EBaseException is logged as "<prmName> Exception (<message>)", anything else
// as "<prmName> Generic Exception". True when prmBody returned normally.
template <typename TBody>
bool RunGuarded(const char* prmName, TBody&& prmBody) noexcept {
  try {
    std::forward<TBody>(prmBody)();
    return true;
  } catch (const EBaseException& e) {
    WriteDebugLog(std::string(prmName) + " Exception (" + e.GetMsg() + ")");
  } catch (...) {
    WriteDebugLog(std::string(prmName) + " Generic Exception");
  }
  return false;
}

}  // namespace vantrel
