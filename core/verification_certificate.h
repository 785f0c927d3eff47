#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/calibration_journal.h"

// The certificate of a verification run: what a metrologist signs. Its number and what the
// engineer typed for it are a further record of the run, so a number once given is never
// given again.

struct CertificateDetails {
  std::string number;
  std::string issued;    // YYYY-MM-DD
  std::string engineer;  // from the settings
  std::string customer;  // customer or site, typed
  // Ambient conditions as typed: temperature °С, atmospheric pressure kPa, humidity %.
  std::string temperature, pressure, humidity;
};

// The next certificate number after those of `journal_lines` (every line, as ReadJournalLines
// gives them): "В-YYYY-NNNN", counting on from the highest number of the year.
std::string NextCertificateNumber(const std::vector<JournalRecord>& journal_lines,
                                  const std::string& year);

// The certificate's record in the run of `entry`; its details as a record keeps them.
JournalRecord CertificateJournalRecord(const JournalRecord& entry,
                                       const CertificateDetails& details);
std::optional<CertificateDetails> CertificateFrom(const JournalRecord& record);
// The latest certificate issued for the run of `entry`, if any.
std::optional<CertificateDetails> CertificateOf(const JournalRecord& entry);

// Whether the entry holds a verification run, so its certificate is this one.
bool HasVerification(const JournalRecord& entry);

// The certificate as HTML (UTF-8), Ukrainian, for an A4 page; the page numbers are the
// printer's.
std::string VerificationCertificateHtml(const JournalRecord& entry,
                                        const CertificateDetails& details);
