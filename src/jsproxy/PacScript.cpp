#include "jsproxy/PacScript.h"

#include <duktape.h>

#include <cstdlib>
#include <cstring>

namespace vantrel::pac {

namespace {

const char kHelpers[] =
#include "jsproxy/PacHelpers.js.inc"
    ;

constexpr uint32_t kAddressSize = 256;

// Each block carries its size in front, so the heap can be held under a limit.
struct TBudget {
  size_t Used = 0;
  size_t Limit = 0;
};
constexpr size_t kHeader = alignof(std::max_align_t);

void* BudgetRealloc(void* prmUdata, void* prmPtr, duk_size_t prmSize) {
  auto* budget = static_cast<TBudget*>(prmUdata);
  size_t old = 0;
  char* base = nullptr;
  if (prmPtr) {
    base = static_cast<char*>(prmPtr) - kHeader;
    std::memcpy(&old, base, sizeof old);
  }
  if (prmSize == 0) {
    budget->Used -= old;
    std::free(base);
    return nullptr;
  }
  if (prmSize > budget->Limit || budget->Used - old + prmSize > budget->Limit) return nullptr;
  char* grown = static_cast<char*>(std::realloc(base, prmSize + kHeader));
  if (!grown) return nullptr;
  budget->Used = budget->Used - old + prmSize;
  std::memcpy(grown, &prmSize, sizeof prmSize);
  return grown + kHeader;
}

void* BudgetAlloc(void* prmUdata, duk_size_t prmSize) {
  return BudgetRealloc(prmUdata, nullptr, prmSize);
}

void BudgetFree(void* prmUdata, void* prmPtr) {
  if (prmPtr) BudgetRealloc(prmUdata, prmPtr, 0);
}

// Duktape's fatal errors (out of memory outside a protected call) end the whole run: the
// caller's process when run directly, the child in the sandbox. Never reached with a limit the
// heap can start in, since every script step runs protected.
void Fatal(void*, const char* prmMessage) {
  (void)prmMessage;
  std::abort();
}

thread_local const TAutoProxyHelperFunctions* g_Net = nullptr;

duk_ret_t NativeIsResolvable(duk_context* ctx) {
  duk_push_boolean(ctx, g_Net->IsResolvable && g_Net->IsResolvable(duk_require_string(ctx, 0)));
  return 1;
}

duk_ret_t NativeDnsResolve(duk_context* ctx) {
  char address[kAddressSize] = {};
  uint32_t size = kAddressSize;
  if (g_Net->ResolveHostName &&
      g_Net->ResolveHostName(duk_require_string(ctx, 0), address, &size) == 0)
    duk_push_string(ctx, address);
  else
    duk_push_null(ctx);
  return 1;
}

duk_ret_t NativeMyIpAddress(duk_context* ctx) {
  char address[kAddressSize] = {};
  uint32_t size = kAddressSize;
  if (g_Net->GetIPAddress && g_Net->GetIPAddress(address, &size) == 0)
    duk_push_string(ctx, address);
  else
    duk_push_null(ctx);
  return 1;
}

duk_ret_t NativeIsInNet(duk_context* ctx) {
  duk_push_boolean(
      ctx, g_Net->IsInNet && g_Net->IsInNet(duk_require_string(ctx, 0), duk_require_string(ctx, 1),
                                            duk_require_string(ctx, 2)));
  return 1;
}

void Register(duk_context* ctx, const char* prmName, duk_c_function prmFn, duk_idx_t prmArgs) {
  duk_push_c_function(ctx, prmFn, prmArgs);
  duk_put_global_string(ctx, prmName);
}

// True (with the error text) when a protected call failed; its error is then on the stack top.
bool Failed(duk_context* ctx, duk_int_t prmRc, std::string& prmError) {
  if (prmRc == DUK_EXEC_SUCCESS) return false;
  prmError = duk_safe_to_string(ctx, -1);
  return true;
}

struct THeap {
  duk_context* Ctx;
  ~THeap() {
    if (Ctx) duk_destroy_heap(Ctx);
  }
};

}  // namespace

bool RunFindProxyForURL(const std::string& prmScript, const std::string& prmUrl,
                        const std::string& prmHost, const TAutoProxyHelperFunctions& prmNet,
                        size_t prmMemoryLimit, std::string& prmAnswer, std::string& prmError) {
  prmAnswer.clear();
  prmError.clear();
  TBudget budget{0, prmMemoryLimit};
  THeap heap{duk_create_heap(BudgetAlloc, BudgetRealloc, BudgetFree, &budget, Fatal)};
  if (!heap.Ctx) {
    prmError = "no script heap";
    return false;
  }
  duk_context* ctx = heap.Ctx;
  g_Net = &prmNet;
  Register(ctx, "__pacIsResolvable", NativeIsResolvable, 1);
  Register(ctx, "__pacDnsResolve", NativeDnsResolve, 1);
  Register(ctx, "__pacMyIpAddress", NativeMyIpAddress, 0);
  Register(ctx, "__pacIsInNet", NativeIsInNet, 3);
  if (Failed(ctx, duk_peval_string(ctx, kHelpers), prmError)) return false;
  duk_pop(ctx);
  duk_push_string(ctx, "proxy.pac");
  if (Failed(ctx, duk_pcompile_lstring_filename(ctx, 0, prmScript.data(), prmScript.size()),
             prmError) ||
      Failed(ctx, duk_pcall(ctx, 0), prmError))
    return false;
  duk_pop(ctx);
  if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1)) {
    prmError = "the script has no FindProxyForURL";
    return false;
  }
  duk_push_lstring(ctx, prmUrl.data(), prmUrl.size());
  duk_push_lstring(ctx, prmHost.data(), prmHost.size());
  if (Failed(ctx, duk_pcall(ctx, 2), prmError)) return false;
  if (!duk_is_string(ctx, -1)) {
    prmError = "FindProxyForURL did not answer a string";
    return false;
  }
  duk_size_t len = 0;
  const char* answer = duk_get_lstring(ctx, -1, &len);
  prmAnswer.assign(answer, len);
  return true;
}

}  // namespace vantrel::pac
