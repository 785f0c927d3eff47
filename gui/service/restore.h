#pragma once

#include "core/calibration_journal.h"
#include "core/calibration_restore.h"

class TFormMain;

// Whether the main window has a link to a sensor that a calibration can go to now.
bool LinkReady(const TFormMain& window);

// The journal record that describes the link of the main window now (the calibration as last
// read from the sensor as found).
JournalRecord LinkRecord(const TFormMain& window);

// Puts the calibration `which` of `source` back into the sensor of the main window's link:
// reads what the sensor holds now, asks (no by default), writes, reads back and tells how it
// ended, keeps its own record in the journal and offers the certificate of a success. True
// when the sensor holds exactly the restored calibration.
bool RestoreCalibration(TFormMain& window, const JournalRecord& source, RestoreWhich which);
