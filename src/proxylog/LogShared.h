// What the proxy library's log shares with an outside viewer: the shared block (record fields
// and the module table with each module's level) and the named semaphores that coordinate
// writers and the viewer. Both sides use these names and offsets; they are a wire format.
//
// Names keep the object names of the log family and add ".<uid>", so each user has objects of
// their own (created mode 0600) and nobody else can read records or change levels.
#pragma once

#include <semaphore.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::proxylog {

enum : int { kLevelOff = 0, kLevelError = 1, kLevelWarning = 2, kLevelInfo = 3 };
enum : int { kModuleCount = 15, kProxyModule = 9 };
// Integrity classes; a Linux process is "medium" as a user and "other" as root.
enum : uint32_t { kIntegrityLow = 0x1000, kIntegrityMedium = 0x2000, kIntegrityOther = 0x3000 };

enum class TLogObject { Block, BlockReady, ViewerReady, SlotFree, RecordReady, FileGate, Presence };

// The object's name in the given class, made into a POSIX name ("/" + name + "." + uid).
std::string LogObjectName(TLogObject prmObject, uint32_t prmClass);
uint32_t CurrentIntegrityClass();

// Shared block layout (little-endian).
namespace block {
constexpr size_t kSourceFile = 0;     // UTF-16, 260 characters
constexpr size_t kProcessName = 520;  // UTF-16, 260 characters
constexpr size_t kLine = 1040;
constexpr size_t kProcessId = 1044;
constexpr size_t kThreadId = 1048;
constexpr size_t kModule = 1052;
constexpr size_t kLevel = 1056;
constexpr size_t kTime = 1060;     // 8 x 16 bits: year, month, weekday, day, h, m, s, ms
constexpr size_t kMessage = 1076;  // UTF-16, 4,096 characters
constexpr size_t kModuleTable = 9268;
constexpr size_t kModuleEntry = 48;  // name: 22 UTF-16 characters, then the level (32 bits)
constexpr size_t kSize = 11668;
constexpr size_t kTextChars = 260;
constexpr size_t kMessageChars = 4096;
}  // namespace block

// The module table with every level at INFO, as a new block starts.
void WriteDefaultModuleTable(uint8_t* prmBlock);
std::u16string ModuleName(const uint8_t* prmBlock, int prmModule);
uint32_t ModuleLevel(const uint8_t* prmBlock, int prmModule);
void SetModuleLevel(uint8_t* prmBlock, int prmModule, uint32_t prmLevel);

// Little-endian field access inside the block.
uint32_t GetU32(const uint8_t* prmAt);
void PutU32(uint8_t* prmAt, uint32_t prmValue);
std::u16string GetText(const uint8_t* prmAt, size_t prmChars);
// Copies at most prmChars - 1 characters and NUL-pads the rest.
void PutText(uint8_t* prmAt, size_t prmChars, std::u16string_view prmText);

// A named semaphore standing in for a named event or gate. Closing never removes the name.
class TNamedSem {
 public:
  TNamedSem() = default;
  ~TNamedSem() { Close(); }
  TNamedSem(const TNamedSem&) = delete;
  TNamedSem& operator=(const TNamedSem&) = delete;

  // prmCreate: create with prmInitial when missing (mode 0600). False when it cannot be opened.
  bool Open(const std::string& prmName, bool prmCreate, unsigned prmInitial = 0);
  void Close();
  bool IsOpen() const { return m_Sem != SEM_FAILED; }
  // Takes one count, waiting at most prmLimit.
  bool Wait(std::chrono::milliseconds prmLimit);
  void Post();
  int Value();

 private:
  sem_t* m_Sem = SEM_FAILED;
};

// The shared block mapped read-write; created (mode 0600, default module table) when missing.
class TSharedBlock {
 public:
  TSharedBlock() = default;
  ~TSharedBlock();
  TSharedBlock(const TSharedBlock&) = delete;
  TSharedBlock& operator=(const TSharedBlock&) = delete;

  bool Open(const std::string& prmName, bool prmCreate);
  uint8_t* Data() const { return m_Data; }

 private:
  uint8_t* m_Data = nullptr;
};

}  // namespace vantrel::proxylog
