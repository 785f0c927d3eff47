#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/calibration_journal.h"

// The printable calibration certificate of one journal record: its text as HTML for a rich
// text document, so that what it says is built and checked without a screen or a printer.

// One point of the record with its errors in the record's unit.
struct CertificatePoint {
  double applied = 0.0;
  double received = 0.0;      // what the sensor read with the calibration found in it
  double error_before = 0.0;  // received - applied
  // What the sensor reads at the applied value with the calibration left in it, and its error;
  // none when nothing was written.
  std::optional<double> reading_after;
  std::optional<double> error_after;
  int readings = 0;
  double deviation = 0.0;
  int applied_readings = 0;  // 0: the applied value was typed
  double applied_deviation = 0.0;
};

// The points of `record`, each carried through the calibration found and the one left.
std::vector<CertificatePoint> CertificatePoints(const JournalRecord& record);

// Decimals of the values of a unit in the certificate: a thousandth of a kilopascal, or of a
// degree, whatever the unit.
int CertificateDecimals(const std::string& unit);

// The certificate as HTML (UTF-8), Ukrainian.
std::string CertificateHtml(const JournalRecord& record);
