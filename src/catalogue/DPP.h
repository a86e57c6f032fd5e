// TDPP: the seven per-session behaviour flags (device redirection and keystroke protection) that
// the desktop-list reply can restrict. Each flag is -1 (not set), 0 (off) or 1 (on).
#pragma once

namespace vantrel {

class TDBMng;
class TXmlNode;

class TDPP {
 public:
  static constexpr int FLAG_REDIR_DRIVES = 1;
  static constexpr int FLAG_REDIR_PRINTERS = 2;
  static constexpr int FLAG_REDIR_PORTS = 3;
  static constexpr int FLAG_REDIR_SMARTCARDS = 4;
  static constexpr int FLAG_REDIR_CLIPBOARD = 5;
  static constexpr int FLAG_REDIR_POS = 6;
  static constexpr int FLAG_ANTI_KEYLOG = 7;
  static constexpr int FLAG_COUNT = 7;

  TDPP();

  // A flag outside 1..7 answers prmDefault; -1 (not set) answers prmDefault too.
  bool GetFlagBool(int prmFlag, bool prmDefault) const;
  // The stored value; -1 outside 1..7.
  int GetFlag(int prmFlag) const;
  // Stores 0 or 1; other values, and flags outside 1..7, change nothing.
  void SetFlag(int prmFlag, int prmStat);
  // Like SetFlag, but a flag once 0 stays 0, so that any one source turning it off wins.
  void SetFlagStrict(int prmFlag, int prmStat);

  // From the desktop-list reply's root: every "DPP" below the first "DPPs" applies its seven
  // attributes strictly (a missing or non-integer attribute counts as 0). Without "DPPs" the
  // first six flags come from the store's redirection settings and the seventh is off.
  void Load(const TXmlNode& prmRoot, const TDBMng& prmDBMng);

 private:
  static bool ValidFlag(int prmFlag) { return prmFlag >= 1 && prmFlag <= FLAG_COUNT; }
  int m_Flags[FLAG_COUNT];
};

}  // namespace vantrel
