#include "tls/ChannelBios.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

template <typename T>
T& Target(BIO* prmBio) {
  return *static_cast<T*>(BIO_get_data(prmBio));
}

int Create(BIO* prmBio) {
  BIO_set_init(prmBio, 1);
  return 1;
}

BIO_METHOD* NewMethod(const char* prmName, long (*prmCtrl)(BIO*, int, long, void*)) {
  BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, prmName);
  if (m) {
    BIO_meth_set_create(m, Create);
    BIO_meth_set_ctrl(m, prmCtrl);
  }
  return m;
}

BIO* NewBio(const BIO_METHOD* prmMethod, void* prmTarget) {
  BIO* b = prmMethod ? BIO_new(prmMethod) : nullptr;
  if (b) BIO_set_data(b, prmTarget);
  return b;
}

int Write(BIO* prmBio, const char* prmData, size_t prmLen, size_t* prmWritten) {
  // As bytes of the store's own type, so the append is one memcpy.
  const auto* data = reinterpret_cast<const uint8_t*>(prmData);
  auto& store = Target<std::vector<uint8_t>>(prmBio);
  try {
    store.insert(store.end(), data, data + prmLen);
  } catch (...) {
    return 0;
  }
  *prmWritten = prmLen;
  return 1;
}

size_t Pending(const std::vector<uint8_t>& prmStore) {
  return prmStore.size();
}

size_t Pending(const TInputWindow& prmWindow) {
  return prmWindow.Pending();
}

// Flush succeeds and the pending count is what the target holds; nothing else is supported.
template <typename T>
long Ctrl(BIO* prmBio, int prmCmd, long, void*) {
  switch (prmCmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      return static_cast<long>(Pending(Target<T>(prmBio)));
    default:
      return 0;
  }
}

int Read(BIO* prmBio, char* prmOut, size_t prmLen, size_t* prmRead) {
  BIO_clear_retry_flags(prmBio);
  *prmRead = Target<TInputWindow>(prmBio).Take(reinterpret_cast<uint8_t*>(prmOut), prmLen);
  if (*prmRead > 0) return 1;
  BIO_set_retry_read(prmBio);
  return 0;
}

struct TMethods {
  BIO_METHOD* Output;
  BIO_METHOD* Input;
};

// Made once and kept for the life of the process, as OpenSSL's own methods are.
const TMethods& Methods() {
  static const TMethods methods = [] {
    TMethods m{NewMethod("channel output", Ctrl<std::vector<uint8_t>>),
               NewMethod("channel input", Ctrl<TInputWindow>)};
    if (m.Output) BIO_meth_set_write_ex(m.Output, Write);
    if (m.Input) BIO_meth_set_read_ex(m.Input, Read);
    return m;
  }();
  return methods;
}

}  // namespace

void TInputWindow::Keep() {
  if (m_Len == 0) return;
  m_Kept.erase(m_Kept.begin(), m_Kept.begin() + static_cast<std::ptrdiff_t>(m_KeptPos));
  m_KeptPos = 0;
  m_Kept.insert(m_Kept.end(), m_Data, m_Data + m_Len);
  m_Len = 0;
}

size_t TInputWindow::Take(uint8_t* prmOut, size_t prmLen) {
  if (m_KeptPos < m_Kept.size()) {
    const size_t n = std::min(prmLen, m_Kept.size() - m_KeptPos);
    std::memcpy(prmOut, m_Kept.data() + m_KeptPos, n);
    m_KeptPos += n;
    if (m_KeptPos == m_Kept.size()) {
      m_Kept.clear();
      m_KeptPos = 0;
    }
    return n;
  }
  const size_t n = std::min(prmLen, m_Len);
  if (n > 0) std::memcpy(prmOut, m_Data, n);
  m_Data += n;
  m_Len -= n;
  return n;
}

BIO* NewOutputBio(std::vector<uint8_t>* prmStore) {
  return NewBio(Methods().Output, prmStore);
}

BIO* NewInputBio(TInputWindow* prmWindow) {
  return NewBio(Methods().Input, prmWindow);
}

}  // namespace vantrel
