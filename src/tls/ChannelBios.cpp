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

// A method made once and kept for the life of the process, as OpenSSL's own methods are.
BIO_METHOD* NewMethod(const char* prmName) {
  BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, prmName);
  if (m) BIO_meth_set_create(m, Create);
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

long OutputCtrl(BIO* prmBio, int prmCmd, long, void*) {
  switch (prmCmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      return static_cast<long>(Target<std::vector<uint8_t>>(prmBio).size());
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

long InputCtrl(BIO* prmBio, int prmCmd, long, void*) {
  switch (prmCmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_PENDING:
      return static_cast<long>(Target<TInputWindow>(prmBio).Pending());
    default:
      return 0;
  }
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
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = NewMethod("channel output");
    if (m) {
      BIO_meth_set_write_ex(m, Write);
      BIO_meth_set_ctrl(m, OutputCtrl);
    }
    return m;
  }();
  return NewBio(method, prmStore);
}

BIO* NewInputBio(TInputWindow* prmWindow) {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = NewMethod("channel input");
    if (m) {
      BIO_meth_set_read_ex(m, Read);
      BIO_meth_set_ctrl(m, InputCtrl);
    }
    return m;
  }();
  return NewBio(method, prmWindow);
}

}  // namespace vantrel
