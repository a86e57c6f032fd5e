// Starting programs: posix_spawnp, waits that a stop event ends,
// and a bounded run that captures a program's standard output.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vantrel {

class TEvent;

// Starts prmArgv[0] (searched on PATH when it has no "/") with prmArgv. 0 with prmPid set, or the
// errno of the failure (ENOENT when the program does not exist).
int SpawnProcess(const std::vector<std::string>& prmArgv, pid_t& prmPid);

// Waits for prmPid to end and reaps it. prmCancel (may be null) ends the wait early: the process
// is then left running and false is returned; it is never killed. prmTimeoutMs < 0: no limit
// other than prmCancel. True with the exit code (128 + signal when it was killed).
bool WaitProcess(pid_t prmPid, TEvent* prmCancel, int prmTimeoutMs, int& prmExitCode);

// Runs prmArgv and collects its standard output (at most prmMaxOutput bytes kept). A program that
// has not ended within prmTimeoutMs is killed and reaped. False when it could not be started or
// did not end in time.
bool RunCaptureOutput(const std::vector<std::string>& prmArgv, int prmTimeoutMs,
                      std::string& prmOutput, size_t prmMaxOutput = 64 * 1024);

// The full path of prmProgram when it names an executable file (directly when it contains "/",
// else through PATH); empty when there is none.
std::string FindProgram(const std::string& prmProgram);

}  // namespace vantrel
