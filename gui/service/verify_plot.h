#pragma once

#include <qcustomplot.h>

#include "core/verification_run.h"

// The run's errors against the applied value, rising and falling apart, over the tolerance
// band, in the run's display unit.
class VerifyPlot : public QCustomPlot {
  Q_OBJECT

 public:
  explicit VerifyPlot(QWidget* parent);

  // Redraws from the run's measured points; empty without a run.
  void Show(const VerificationRun* run);

  QCPGraph* rising() const { return rising_; }
  QCPGraph* falling() const { return falling_; }
  QCPGraph* band_upper() const { return band_upper_; }
  QCPGraph* band_lower() const { return band_lower_; }

 private:
  QCPGraph* rising_;
  QCPGraph* falling_;
  QCPGraph* band_upper_;
  QCPGraph* band_lower_;
};
