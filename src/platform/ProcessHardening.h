// Keeps a program that holds secrets (the portal cookie, passwords, keys) out of reach of other
// processes of the same user and out of core files, as key agents do.
#pragma once

namespace vantrel {

// Marks the process not dumpable (no core file, no ptrace attach or /proc/<pid>/mem read by
// other processes of the user) and sets the core-file limit to 0. Called first thing in main;
// a failure is only logged, the program still runs.
void HardenProcess();

}  // namespace vantrel
