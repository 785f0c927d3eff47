#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/calibration_checks.h"
#include "core/reference_standards.h"
#include "core/verification_certificate.h"
#include "core/verification_run.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class TFormMain;
class VerifyAutoRun;
class VerifyPlot;

// What the statistics window took at a point: the sensor's settled readings and, when the
// reference instrument was read beside it, the reference's.
struct PointReadings {
  ReadingSpread sensor;
  std::optional<ReadingSpread> reference;
};

// "Перевірка давача": the channel's test plan, a run over it point by point (as found, as
// left, or alone), the offer to adjust by the two-point calibration in between, and the
// certificate. Each run goes to the journal as it ends, a cancelled one too; the runs, the
// adjustment and the certificate of one sitting share one run of the journal.
class TFormVerify : public QDialog {
  Q_OBJECT

 public:
  explicit TFormVerify(TFormMain& window, QWidget* parent = nullptr);
  ~TFormVerify() override;

  // The plan.
  QLineEdit* EditRangeLow;
  QLineEdit* EditRangeHigh;
  QLineEdit* EditPoints;
  QComboBox* ComboDirection;
  QLineEdit* EditTolerance;
  QComboBox* ComboToleranceKind;
  QComboBox* ComboRule;
  QComboBox* ComboReference;
  // The run.
  QLabel* LabelPoint;  // the point to apply next
  QLineEdit* EditApplied;
  // The applied value read from the reference instrument instead of typed; shown only when
  // one is set.
  QCheckBox* CheckFromReference;
  QPushButton* BtnStart;      // "Почати перевірку"
  QPushButton* BtnMeasure;    // "Набір статистики"
  QPushButton* BtnRepeat;     // "Повторити точку"
  QPushButton* BtnCancelRun;  // "Перервати перевірку"
  QPushButton* BtnAuto;  // "Автоматично": the whole plan through a pressure controller
  QLabel* LabelLive;     // the reference's and the sensor's last readings, side by side
  QTableWidget* TablePoints;
  VerifyPlot* PlotErrors;  // error against applied value, with the tolerance band
  QLabel* LabelHysteresis;
  QLabel* LabelVerdict;
  // The certificate's own data.
  QLineEdit* EditEngineer;
  QLineEdit* EditCustomer;
  QLineEdit* EditAmbientT;
  QLineEdit* EditAmbientP;
  QLineEdit* EditHumidity;
  QPushButton* BtnAdjust;       // "Налаштувати..."
  QPushButton* BtnCertificate;  // "Сертифікат..."
  QPushButton* BtnClose;        // "Закрити"

  // The settled readings at the point, the engineer holding `applied` on the sensor (the
  // reference read beside it when `from_reference`); none when the collection was cancelled.
  // The statistics window by default.
  std::function<std::optional<PointReadings>(double applied, bool from_reference)> collect;
  // The two-point calibration offered from the as-found run, its applied values given; true
  // when the sensor took a new calibration. The main window's command by default.
  std::function<bool(const std::array<float, 2>& applied)> adjust;
  // Shows the certificate of the entry. The preview window by default.
  std::function<void(const JournalRecord&)> show_certificate;

  // What the window has measured: the run in progress or the last one, and all of this
  // sitting's.
  const std::optional<VerificationRun>& current() const { return current_; }
  const std::vector<VerificationRun>& finished() const { return finished_; }
  const std::string& run_id() const { return run_id_; }
  // The unattended run in progress or the last one; null when there was none.
  VerifyAutoRun* auto_run() const { return auto_.get(); }
  bool auto_running() const { return auto_running_; }

  void StartClick();
  void MeasureClick();
  void RepeatClick();
  void CancelRunClick();
  void AdjustClick();
  void CertificateClick();
  // Closes without a question, for a program being terminated where nobody is there to answer
  // one: a run in progress ends as cancelled (what was measured goes to the journal), an
  // unattended one is vented first.
  void CloseUnasked();
  void AutoClick();

 protected:
  void reject() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FillPlan(const TestPlan& plan);
  std::optional<TestPlan> ReadPlan();
  void FillTable();
  void ShowNext();
  void Measure(const PlanPoint& point);
  void EndRun(bool cancelled);
  // Checks the plan, reads the sensor's calibration and starts a run over it; with `identify`
  // the reference instrument is asked who it is first.
  bool PrepareRun(bool identify);
  void ShowAutoProgress();
  void AutoEnded();
  // Vents and forgets the last unattended run; true when nothing was left to vent.
  bool DropAutoRun();
  void UpdateButtons();
  bool FromReference() const;
  // Opens the reference instrument and asks who it is; false (with the message shown) when it
  // cannot be reached.
  bool IdentifyReference(std::string& id);
  JournalRecord LinkRecord() const;

  TFormMain& window_;
  std::vector<ReferenceStandard> references_;
  std::optional<VerificationRun> current_;
  std::vector<VerificationRun> finished_;
  std::string run_id_;
  bool running_ = false;
  bool adjusted_ = false;
  std::unique_ptr<VerifyAutoRun> auto_;
  bool auto_running_ = false;
  // The window is to close once the tick running now has returned.
  bool close_pending_ = false;
  // The time each point of the unattended run took, by its index in RunSequence.
  std::map<size_t, uint32_t> point_times_;
};

// Opens the window over the main window until it is closed.
void ShowVerification(TFormMain& window);
