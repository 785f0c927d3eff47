#pragma once

// What vorlix-cli ends with; listed in its --help and its manual page.
enum ExitCode : int {
  kExitDone = 0,
  kExitFailed = 1,    // anything else: a file that cannot be written, readings that never settle
  kExitUsage = 2,     // an option or argument that is wrong, a journal record that is not there
  kExitPort = 3,      // the port is not there or cannot be opened
  kExitDevice = 4,    // the corrector or the sensor did not answer, or refused
  kExitRefused = 5,   // a calibration not written: not finite, slope 0, doubtful, not confirmed
  kExitMismatch = 6,  // the sensor reads back something else than was written, or nothing
  kExitAborted = 7,   // Ctrl+C or a termination request
  kExitOutOfTolerance = 8,  // verify: a point beyond the tolerance, or within it only conditionally
};
