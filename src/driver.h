// The command-line driver: one run of raw2zel from arguments to exit status.
#pragma once

enum ExitStatus {
  kStatusSuccess = 0,
  kStatusFailure = 1,  // usage, open, create, read or write failures
  kStatusBadName = 2,  // the input's name does not describe a volume the header can hold
  kStatusShortContainer = 3,
};

// argv holds argc strings after the program's name is taken off, as the
// process received them; the result is the process's exit status.
int runRaw2zel(int argc, const char* const* argv);
