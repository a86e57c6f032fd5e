// What every part of a session reaches of the session that owns it: the settings store, the
// reporting channel, whether the session is going, and its stop event. The narrower callback
// interfaces (desktop records, file exchange, monitors) extend it, so one owner serves all of
// them from one place.
#pragma once

namespace vantrel {

class TDBMng;
class TEvent;
class ITCSUserInterface;

// Contract: every operation may be called from any of the session's threads.
class ISessionServices {
 public:
  virtual ~ISessionServices() = default;

  virtual TDBMng& GetDBMng() = 0;
  virtual ITCSUserInterface& GetUI() = 0;
  // Set once the owner begins to go; never cleared.
  virtual bool InDestruction() = 0;
  // Manual-reset event signalled when the owner goes; ends the waits of the session's threads.
  virtual TEvent& GetStopEvent() = 0;
};

}  // namespace vantrel
