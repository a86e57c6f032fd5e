#include "tls/OutputBio.h"

namespace vantrel {

namespace {

std::vector<uint8_t>& Store(BIO* prmBio) {
  return *static_cast<std::vector<uint8_t>*>(BIO_get_data(prmBio));
}

int Write(BIO* prmBio, const char* prmData, size_t prmLen, size_t* prmWritten) {
  // As bytes of the store's own type, so the append is one memcpy.
  const auto* data = reinterpret_cast<const uint8_t*>(prmData);
  try {
    Store(prmBio).insert(Store(prmBio).end(), data, data + prmLen);
  } catch (...) {
    return 0;
  }
  *prmWritten = prmLen;
  return 1;
}

long Ctrl(BIO* prmBio, int prmCmd, long, void*) {
  switch (prmCmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      return static_cast<long>(Store(prmBio).size());
    default:
      return 0;
  }
}

int Create(BIO* prmBio) {
  BIO_set_init(prmBio, 1);
  return 1;
}

const BIO_METHOD* Method() {
  // Made once and kept for the life of the process, as OpenSSL's own methods are.
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "channel output");
    if (m) {
      BIO_meth_set_write_ex(m, Write);
      BIO_meth_set_ctrl(m, Ctrl);
      BIO_meth_set_create(m, Create);
    }
    return m;
  }();
  return method;
}

}  // namespace

BIO* NewOutputBio(std::vector<uint8_t>* prmStore) {
  const BIO_METHOD* m = Method();
  BIO* b = m ? BIO_new(m) : nullptr;
  if (b) BIO_set_data(b, prmStore);
  return b;
}

}  // namespace vantrel
