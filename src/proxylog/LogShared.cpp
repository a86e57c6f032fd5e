#include "proxylog/LogShared.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "diag/UniqueFd.h"

namespace vantrel::proxylog {

namespace {

struct TObjectNames {
  const char* Low;
  const char* Medium;
  const char* Other;
};

// In TLogObject order.
const TObjectNames kNames[] = {
    {"{DF01D48B-25C4-475C-ADDC-6CCC9774D2B9}", "{D8C8A25C-F839-4EE0-A149-346039474C00}",
     "Global\\{44749BB3-5E85-4546-AD4C-D83984AE4620}"},
    {"{2E70B03D-AD9E-44CD-8EFE-6FAF86FD8452}", "{5B762122-5A07-44ED-A1B2-A0A9DFC86495}",
     "Global\\{774C56BB-1DC2-44A0-86DE-86C34D9C9606}"},
    {"{1F39B147-695E-44F9-8317-DBD24301C43E}", "{D79B4EA8-F18B-41C6-8725-D6C2B4072C12}",
     "Global\\{D31D155D-921C-4614-BA12-C0FB6DEFE793}"},
    {"{0E119489-4375-40AF-AA16-0E3A3EB9AAB8}", "{C245645A-FD24-4E32-8D6A-7D3E29E090A6}",
     "Global\\{BDE85753-7650-4465-8953-05DF26DEAD2F}"},
    {"{FB7093BA-9B7C-471C-A80D-506EBBB30E8E}", "{A228AA67-78BE-4BAC-AD4E-CFD785521218}",
     "Global\\{9559D1AB-9264-48C7-998D-793F1219E423}"},
    {"{EE052CA6-A8E9-46D8-A967-E132AF70C5B1}", "{688AD2D2-CAA9-4E4F-B760-687D5EF290A5}",
     "Global\\{FF396BA0-BA83-4526-8DDE-A768B79FE75B}"},
    {"Global\\{31BAC838-B1E7-45EE-9340-E2DE874CDE0E}",
     "Global\\{31BAC838-B1E7-45EE-9340-E2DE874CDE0E}",
     "Global\\{31BAC838-B1E7-45EE-9340-E2DE874CDE0E}"},
};

const char16_t* const kModuleNames[kModuleCount] = {
    u"All Modules", u"Module_1",  u"Module_2",  u"Module_3",  u"Module_4",
    u"Module_5",    u"Module_6",  u"Module_7",  u"Module_8",  u"Ardomin_Qorel",
    u"Module_10",   u"Module_11", u"Module_12", u"Module_13", u"Module_14"};

uint8_t* Entry(uint8_t* prmBlock, int prmModule) {
  return prmBlock + block::kModuleTable + prmModule * block::kModuleEntry;
}

}  // namespace

std::string LogObjectName(TLogObject prmObject, uint32_t prmClass) {
  const TObjectNames& n = kNames[static_cast<int>(prmObject)];
  const char* name = prmClass == kIntegrityLow      ? n.Low
                     : prmClass == kIntegrityMedium ? n.Medium
                                                    : n.Other;
  return "/" + std::string(name) + "." + std::to_string(geteuid());
}

uint32_t CurrentIntegrityClass() {
  return geteuid() == 0 ? kIntegrityOther : kIntegrityMedium;
}

void WriteDefaultModuleTable(uint8_t* prmBlock) {
  for (int m = 0; m < kModuleCount; ++m) {
    PutText(Entry(prmBlock, m), 22, kModuleNames[m]);
    SetModuleLevel(prmBlock, m, kLevelInfo);
  }
}

std::u16string ModuleName(const uint8_t* prmBlock, int prmModule) {
  return GetText(Entry(const_cast<uint8_t*>(prmBlock), prmModule), 22);
}

uint32_t ModuleLevel(const uint8_t* prmBlock, int prmModule) {
  return GetU32(Entry(const_cast<uint8_t*>(prmBlock), prmModule) + 44);
}

void SetModuleLevel(uint8_t* prmBlock, int prmModule, uint32_t prmLevel) {
  PutU32(Entry(prmBlock, prmModule) + 44, prmLevel);
}

uint32_t GetU32(const uint8_t* prmAt) {
  return prmAt[0] | prmAt[1] << 8 | prmAt[2] << 16 | static_cast<uint32_t>(prmAt[3]) << 24;
}

void PutU32(uint8_t* prmAt, uint32_t prmValue) {
  for (int i = 0; i < 4; ++i) prmAt[i] = static_cast<uint8_t>(prmValue >> (8 * i));
}

std::u16string GetText(const uint8_t* prmAt, size_t prmChars) {
  std::u16string out;
  for (size_t i = 0; i < prmChars; ++i) {
    char16_t c = static_cast<char16_t>(prmAt[2 * i] | prmAt[2 * i + 1] << 8);
    if (c == 0) break;
    out += c;
  }
  return out;
}

void PutText(uint8_t* prmAt, size_t prmChars, std::u16string_view prmText) {
  for (size_t i = 0; i < prmChars; ++i) {
    char16_t c = i + 1 < prmChars && i < prmText.size() ? prmText[i] : 0;
    prmAt[2 * i] = static_cast<uint8_t>(c);
    prmAt[2 * i + 1] = static_cast<uint8_t>(c >> 8);
  }
}

bool TNamedSem::Open(const std::string& prmName, bool prmCreate, unsigned prmInitial) {
  Close();
  m_Sem = prmCreate ? sem_open(prmName.c_str(), O_CREAT, 0600, prmInitial)
                    : sem_open(prmName.c_str(), 0);
  return m_Sem != SEM_FAILED;
}

void TNamedSem::Close() {
  if (m_Sem != SEM_FAILED) sem_close(m_Sem);
  m_Sem = SEM_FAILED;
}

bool TNamedSem::Wait(std::chrono::milliseconds prmLimit) {
  if (m_Sem == SEM_FAILED) return false;
  timespec until{};
  clock_gettime(CLOCK_REALTIME, &until);
  long long ns = until.tv_nsec + static_cast<long long>(prmLimit.count()) * 1000000;
  until.tv_sec += ns / 1000000000;
  until.tv_nsec = ns % 1000000000;
  for (;;) {
    if (sem_timedwait(m_Sem, &until) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void TNamedSem::Post() {
  if (m_Sem != SEM_FAILED) sem_post(m_Sem);
}

int TNamedSem::Value() {
  int v = 0;
  return m_Sem != SEM_FAILED && sem_getvalue(m_Sem, &v) == 0 ? v : 0;
}

TSharedBlock::~TSharedBlock() {
  if (m_Data) munmap(m_Data, block::kSize);
}

bool TSharedBlock::Open(const std::string& prmName, bool prmCreate) {
  bool created = false;
  TUniqueFd fd(shm_open(prmName.c_str(), O_RDWR, 0600));
  if (!fd.Valid() && prmCreate) {
    fd.Reset(shm_open(prmName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    created = fd.Valid();
    if (!fd.Valid() && errno == EEXIST) fd.Reset(shm_open(prmName.c_str(), O_RDWR, 0600));
  }
  if (!fd.Valid()) return false;
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0) return false;
  // A block another process is still sizing reads as all zeros until it is done; a block that is
  // too small is grown so that no access lies past the mapping.
  if (st.st_size < static_cast<off_t>(block::kSize) &&
      ftruncate(fd.Get(), static_cast<off_t>(block::kSize)) != 0)
    return false;
  void* p = mmap(nullptr, block::kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
  if (p == MAP_FAILED) return false;
  m_Data = static_cast<uint8_t*>(p);
  if (created) WriteDefaultModuleTable(m_Data);
  return true;
}

}  // namespace vantrel::proxylog
