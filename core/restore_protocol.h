#pragma once

#include <string>

#include "core/calibration_journal.h"

// The printable protocol of a restore: what stood in the sensor, what was put back and from
// which journal record, and whether it read back bit for bit. A restore measures nothing, so
// it gets this short protocol instead of a calibration certificate.

// Whether the record is of a restore that went through, the kind this protocol is for.
bool HasRestoreProtocol(const JournalRecord& record);

// The title the protocol goes under (window, PDF document), Ukrainian.
std::string RestoreProtocolTitle();

// Where the calibration came from, from the record's note: "як знайдено, запис журналу від
// 08.12.2026 11:02:03"; the note as it stands when it is not one a restore writes.
std::string RestoreSourceText(const std::string& note);

// The protocol as HTML (UTF-8) for a rich text document, Ukrainian.
std::string RestoreProtocolHtml(const JournalRecord& record);
