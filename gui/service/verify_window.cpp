#include "gui/service/verify_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "comm/modbusbox.h"
#include "core/calibration.h"
#include "core/calibration_write.h"
#include "core/ini_file.h"
#include "core/number_format.h"
#include "core/reference_session.h"
#include "gui/dialog_widgets.h"
#include "gui/form_main.h"
#include "gui/form_main_measure.h"
#include "gui/key_filters.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/reference_readout.h"
#include "gui/service/certificate_view.h"
#include "gui/service/restore.h"
#include "gui/service/verify_auto.h"
#include "gui/service/verify_plot.h"

namespace {

const char kNoLink[] = "Зв'язок з давачем не встановлено.";
const char kReadFailed[] = "Читання калібровки давача:";
const char kSettingsSection[] = "Verification";
const char kEngineerKey[] = "Engineer";

enum Column {
  kNominal,
  kDirection,
  kApplied,
  kSource,
  kMean,
  kDeviation,
  kCount,
  kError,
  kOfReading,
  kOfSpan,
  kTolerance,
  kVerdict,
  kTime,
  kColumns
};

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string Text(const QLineEdit* edit) {
  return edit->text().trimmed().toStdString();
}

// The statistics window over a point, on a record of its own.
std::optional<PointReadings> CollectAtPoint(AppState& state, double applied, bool from_reference,
                                            QWidget* parent) {
  CalibrationRecord record;
  if (state.Channel == 0) {
    PressureFactor(state.ConnectSettings.P_unit, record.factor);
    record.digits = state.ConnectSettings.P_format;
  } else {
    record.factor = 1.0;
    record.digits = state.ConnectSettings.T_format;
  }
  record.point = 0;
  record.applied[0] = static_cast<float>(applied);
  TFormAsk_Val dialog(state, parent);
  dialog.record = &record;
  dialog.with_reference = from_reference;
  dialog.exec();
  if (!dialog.accepted)
    return std::nullopt;
  PointReadings readings;
  readings.sensor.count = record.readings[0];
  readings.sensor.mean = record.received[0];
  readings.sensor.deviation = record.deviation[0];
  if (dialog.RefBox1->active() && record.applied_readings[0] > 0) {
    ReadingSpread reference;
    reference.count = record.applied_readings[0];
    reference.mean = record.applied[0];
    reference.deviation = record.applied_deviation[0];
    readings.reference = reference;
  }
  return readings;
}

}  // namespace

TFormVerify::TFormVerify(TFormMain& window, QWidget* parent) : QDialog(parent), window_(window) {
  setObjectName(QStringLiteral("FormVerify"));
  setWindowTitle(QStringLiteral("Перевірка давача"));
  AppState& state = window_.state;
  const QString sensor_unit = state.Channel == 1 ? QStringLiteral("°С") : QStringLiteral("кПа");

  collect = [this](double applied, bool from_reference) {
    return CollectAtPoint(window_.state, applied, from_reference, this);
  };
  adjust = [this](const std::array<float, 2>& applied) {
    MeasuringCommands commands(window_);
    commands.run = run_id_;
    commands.offered_applied = applied;
    commands.offer_certificate = false;
    commands.Calibration();
    return commands.written;
  };
  show_certificate = [this](const JournalRecord& entry) { ShowCertificate(entry, this); };

  // The plan.
  QGroupBox* plan = MakeGroupBox(this, "GroupPlan", QStringLiteral(" Програма перевірки "));
  auto* grid = new QGridLayout(plan);
  EditRangeLow = MakeValueEdit(plan, "EditRangeLow", QStringLiteral("Діапазон від"));
  EditRangeHigh = MakeValueEdit(plan, "EditRangeHigh", QStringLiteral("Діапазон до"));
  EditPoints = MakeEdit(plan, "EditPoints");
  EditTolerance = MakeValueEdit(plan, "EditTolerance", QStringLiteral("Допуск"));
  for (QLineEdit* edit : {EditRangeLow, EditRangeHigh, EditTolerance})
    InstallFloatKeyFilter(edit);
  ComboDirection = MakeList(plan, "ComboDirection");
  ComboDirection->addItems({QString::fromUtf8(DirectionText(PlanDirection::kRising)),
                            QString::fromUtf8(DirectionText(PlanDirection::kRisingThenFalling))});
  ComboToleranceKind = MakeList(plan, "ComboToleranceKind");
  ComboToleranceKind->addItems(
      {sensor_unit, QStringLiteral("% від показу"), QStringLiteral("% від діапазону")});
  ComboRule = MakeList(plan, "ComboRule");
  ComboRule->addItems(
      {QStringLiteral("просте прийняття"), QStringLiteral("із захисною смугою U еталона")});
  ComboReference = MakeList(plan, "ComboReference");
  ComboReference->addItem(QStringLiteral("(без еталона)"));
  references_ = LoadReferenceStandards(ReferenceRegisterPath(state.SettingsFolder));
  for (const ReferenceStandard& s : references_)
    ComboReference->addItem(Q(s.name + ", до " + s.due_date));

  const auto row = [&](int r, const QString& caption, QWidget* field, const QString& unit = {}) {
    QLabel* label = MakeLabel(plan, nullptr, caption);
    label->setBuddy(field);
    grid->addWidget(label, r, 0);
    grid->addWidget(field, r, 1);
    if (!unit.isEmpty())
      grid->addWidget(MakeLabel(plan, nullptr, unit), r, 2);
  };
  row(0, QStringLiteral("Діапазон &від"), EditRangeLow, sensor_unit);
  row(1, QStringLiteral("Діапазон &до"), EditRangeHigh, sensor_unit);
  row(2, QStringLiteral("&Точки (порожньо: 0, 25, 50, 75, 100 %)"), EditPoints, sensor_unit);
  row(3, QStringLiteral("&Напрям"), ComboDirection);
  row(4, QStringLiteral("Д&опуск ±"), EditTolerance);
  grid->addWidget(ComboToleranceKind, 4, 2);
  row(5, QStringLiteral("&Правило"), ComboRule);
  row(6, QStringLiteral("&Еталон"), ComboReference);

  // The certificate's own data.
  QGroupBox* certificate = MakeGroupBox(this, "GroupCertificate", QStringLiteral(" Сертифікат "));
  auto* cgrid = new QGridLayout(certificate);
  EditEngineer = MakeEdit(certificate, "EditEngineer");
  EditCustomer = MakeEdit(certificate, "EditCustomer");
  EditAmbientT = MakeValueEdit(certificate, "EditAmbientT", QStringLiteral("Температура повітря"));
  EditAmbientP = MakeValueEdit(certificate, "EditAmbientP", QStringLiteral("Атмосферний тиск"));
  EditHumidity = MakeValueEdit(certificate, "EditHumidity", QStringLiteral("Вологість"));
  for (QLineEdit* edit : {EditAmbientT, EditAmbientP, EditHumidity})
    InstallFloatKeyFilter(edit);
  EditEngineer->setText(
      Q(ReadIniString(state.IniPath, kSettingsSection, kEngineerKey).value_or("")));
  const auto crow = [&](int r, const QString& caption, QWidget* field, const QString& unit = {}) {
    QLabel* label = MakeLabel(certificate, nullptr, caption);
    label->setBuddy(field);
    cgrid->addWidget(label, r, 0);
    cgrid->addWidget(field, r, 1);
    if (!unit.isEmpty())
      cgrid->addWidget(MakeLabel(certificate, nullptr, unit), r, 2);
  };
  crow(0, QStringLiteral("&Інженер"), EditEngineer);
  crow(1, QStringLiteral("&Замовник / об'єкт"), EditCustomer);
  crow(2, QStringLiteral("Т&емпература повітря"), EditAmbientT, QStringLiteral("°С"));
  crow(3, QStringLiteral("Ат&мосферний тиск"), EditAmbientP, QStringLiteral("кПа"));
  crow(4, QStringLiteral("&Вологість"), EditHumidity, QStringLiteral("%"));

  auto* top = new QHBoxLayout;
  top->addWidget(plan, 3);
  top->addWidget(certificate, 2);

  // The run.
  LabelPoint = MakeLabel(this, "LabelPoint");
  EditApplied = MakeValueEdit(this, "EditApplied", QStringLiteral("Подане значення"));
  InstallFloatKeyFilter(EditApplied);
  QLabel* applied_label = MakeLabel(this, nullptr, QStringLiteral("По&дане значення"));
  applied_label->setBuddy(EditApplied);
  QLabel* applied_unit = MakeLabel(this, "LabelAppliedUnit",
                                   Q(ChannelUnitName(state.Channel, state.ConnectSettings.P_unit)));
  CheckFromReference = new QCheckBox(QStringLiteral("з еталонного п&риладу"), this);
  CheckFromReference->setObjectName(QStringLiteral("CheckFromReference"));
  CheckFromReference->setToolTip(
      QStringLiteral("Подане значення — середнє показів еталонного приладу за те саме вікно, що й "
                     "у давача. Зніміть позначку, щоб увести його вручну."));
  CheckFromReference->setChecked(true);
  CheckFromReference->setVisible(ReferenceConfigured(state));
  connect(CheckFromReference, &QCheckBox::toggled, this, [this] {
    UpdateButtons();
    ShowNext();
  });
  BtnStart = MakeDialogButton(this, "BtnStart", QStringLiteral("Почати перевірку"),
                              EnterKey::kWhenFocused);
  BtnMeasure =
      MakeDialogButton(this, "BtnMeasure", QStringLiteral("Набір статистики"), EnterKey::kPresses);
  BtnRepeat = MakeDialogButton(this, "BtnRepeat", QStringLiteral("Повторити точку"),
                               EnterKey::kWhenFocused);
  BtnCancelRun = MakeDialogButton(this, "BtnCancelRun", QStringLiteral("Перервати перевірку"),
                                  EnterKey::kWhenFocused);
  BtnAuto =
      MakeDialogButton(this, "BtnAuto", QStringLiteral("&Автоматично"), EnterKey::kWhenFocused);
  BtnAuto->setToolTip(
      QStringLiteral("Уся програма без участі інженера: контролер тиску задає "
                     "кожну точку, подане значення читається з нього"));
  LabelLive = MakeLabel(this, "LabelLive");
  LabelLive->setAccessibleName(QStringLiteral("Покази еталона і давача"));
  auto* run_row = new QHBoxLayout;
  run_row->addWidget(applied_label);
  run_row->addWidget(EditApplied);
  run_row->addWidget(applied_unit);
  run_row->addWidget(CheckFromReference);
  run_row->addWidget(BtnMeasure);
  run_row->addWidget(BtnRepeat);
  run_row->addStretch(1);
  run_row->addWidget(BtnStart);
  run_row->addWidget(BtnAuto);
  run_row->addWidget(BtnCancelRun);

  TablePoints = new QTableWidget(0, kColumns, this);
  TablePoints->setObjectName(QStringLiteral("TablePoints"));
  TablePoints->setAccessibleName(QStringLiteral("Точки перевірки"));
  TablePoints->setHorizontalHeaderLabels(
      {QStringLiteral("Номінал"), QStringLiteral("Напрям"), QStringLiteral("Подане"),
       QStringLiteral("Джерело"), QStringLiteral("Середнє"), QStringLiteral("СКВ"),
       QStringLiteral("Показів"), QStringLiteral("Похибка"), QStringLiteral("% показу"),
       QStringLiteral("% діапазону"), QStringLiteral("Допуск ±"), QStringLiteral("Висновок"),
       QStringLiteral("Час, с")});
  TablePoints->setSelectionBehavior(QAbstractItemView::SelectRows);
  TablePoints->setSelectionMode(QAbstractItemView::SingleSelection);
  TablePoints->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TablePoints->verticalHeader()->setVisible(false);
  TablePoints->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  TablePoints->setMinimumHeight(230);
  PlotErrors = new VerifyPlot(this);
  // Side by side: the table keeps its rows in view, the plot the shape of the errors.
  auto* points = new QSplitter(Qt::Horizontal, this);
  points->setObjectName(QStringLiteral("SplitterPoints"));
  points->setChildrenCollapsible(false);
  points->addWidget(TablePoints);
  points->addWidget(PlotErrors);
  points->setStretchFactor(0, 1);
  points->setStretchFactor(1, 0);
  LabelHysteresis = MakeLabel(this, "LabelHysteresis");
  LabelHysteresis->setWordWrap(true);
  LabelVerdict = MakeLabel(this, "LabelVerdict");

  BtnAdjust =
      MakeDialogButton(this, "BtnAdjust", QStringLiteral("Налаштувати..."), EnterKey::kWhenFocused);
  BtnCertificate = MakeDialogButton(this, "BtnCertificate", QStringLiteral("Сертифікат..."),
                                    EnterKey::kWhenFocused);
  BtnClose = MakeDialogButton(this, "BtnClose", QStringLiteral("Закрити"), EnterKey::kWhenFocused);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(LabelPoint);
  layout->addLayout(run_row);
  layout->addWidget(LabelLive);
  layout->addWidget(points, 1);
  layout->addWidget(LabelHysteresis);
  layout->addWidget(LabelVerdict);
  layout->addLayout(MakeButtonRow({BtnAdjust, BtnCertificate, BtnClose}, ButtonsAt::kRight));

  SetTabOrder(
      {EditRangeLow,       EditRangeHigh,  EditPoints,     ComboDirection, EditTolerance,
       ComboToleranceKind, ComboRule,      ComboReference, EditEngineer,   EditCustomer,
       EditAmbientT,       EditAmbientP,   EditHumidity,   EditApplied,    CheckFromReference,
       BtnMeasure,         BtnRepeat,      BtnStart,       BtnCancelRun,   TablePoints,
       BtnAdjust,          BtnCertificate, BtnClose});

  connect(BtnStart, &QPushButton::clicked, this, &TFormVerify::StartClick);
  connect(BtnMeasure, &QPushButton::clicked, this, &TFormVerify::MeasureClick);
  connect(BtnRepeat, &QPushButton::clicked, this, &TFormVerify::RepeatClick);
  connect(BtnCancelRun, &QPushButton::clicked, this, &TFormVerify::CancelRunClick);
  connect(BtnAuto, &QPushButton::clicked, this, &TFormVerify::AutoClick);
  connect(BtnAdjust, &QPushButton::clicked, this, &TFormVerify::AdjustClick);
  connect(BtnCertificate, &QPushButton::clicked, this, &TFormVerify::CertificateClick);
  connect(BtnClose, &QPushButton::clicked, this, &TFormVerify::reject);
  connect(TablePoints, &QTableWidget::itemSelectionChanged, this, &TFormVerify::UpdateButtons);

  const TestPlan stored = LoadTestPlan(state.IniPath, state.Channel);
  FillPlan(stored);
  LabelPoint->setText(QStringLiteral("Задайте програму і натисніть «Почати перевірку»."));
  UpdateButtons();
  // Wide enough for every column of the table beside the plot, within a 1280-pixel screen.
  resize(1270, 660);
  points->setSizes({915, 335});
}

void TFormVerify::FillPlan(const TestPlan& plan) {
  EditRangeLow->setText(Q(PlanPointsText({plan.range_low})));
  EditRangeHigh->setText(Q(PlanPointsText({plan.range_high})));
  EditPoints->setText(Q(PlanPointsText(plan.points)));
  ComboDirection->setCurrentIndex(plan.direction == PlanDirection::kRising ? 0 : 1);
  EditTolerance->setText(Q(PlanPointsText({plan.tolerance})));
  ComboToleranceKind->setCurrentIndex(static_cast<int>(plan.tolerance_kind));
  ComboRule->setCurrentIndex(plan.rule == DecisionRule::kSimple ? 0 : 1);
  for (size_t i = 0; i < references_.size(); ++i) {
    if (references_[i].name == plan.reference)
      ComboReference->setCurrentIndex(static_cast<int>(i) + 1);
  }
}

std::optional<TestPlan> TFormVerify::ReadPlan() {
  ExchangeHost& ui = *window_.state.ui;
  TestPlan plan;
  const std::optional<double> low = ParseFloat(Text(EditRangeLow));
  const std::optional<double> high = ParseFloat(Text(EditRangeHigh));
  if (!low || !high || !(*low < *high)) {
    ui.ShowMessage("Діапазон: початок має бути числом, меншим за кінець.", "");
    return std::nullopt;
  }
  plan.range_low = *low;
  plan.range_high = *high;
  const std::optional<std::vector<double>> points = ParsePlanPoints(Text(EditPoints));
  if (!points) {
    ui.ShowMessage("Точки: \"" + Text(EditPoints) + "\" — не перелік чисел.", "");
    return std::nullopt;
  }
  plan.points = *points;
  plan.direction = ComboDirection->currentIndex() == 1 ? PlanDirection::kRisingThenFalling
                                                       : PlanDirection::kRising;
  const std::optional<double> tolerance = ParseFloat(Text(EditTolerance));
  if (!tolerance || !(*tolerance > 0.0) || !std::isfinite(*tolerance)) {
    ui.ShowMessage("Допуск має бути числом, більшим за 0.", "");
    return std::nullopt;
  }
  plan.tolerance = *tolerance;
  plan.tolerance_kind = static_cast<ToleranceKind>(ComboToleranceKind->currentIndex());
  plan.rule = ComboRule->currentIndex() == 1 ? DecisionRule::kGuardBanded : DecisionRule::kSimple;
  const int reference = ComboReference->currentIndex() - 1;
  if (reference >= 0 && static_cast<size_t>(reference) < references_.size())
    plan.reference = references_[static_cast<size_t>(reference)].name;
  return plan;
}

JournalRecord TFormVerify::LinkRecord() const {
  const AppState& state = window_.state;
  return NewJournalRecord(state, ChannelUnitName(state.Channel, state.ConnectSettings.P_unit));
}

void TFormVerify::StartClick() {
  if (running_)
    return;
  DropAutoRun();
  if (PrepareRun(FromReference()))
    ShowNext();
}

bool TFormVerify::PrepareRun(bool identify) {
  AppState& state = window_.state;
  ExchangeHost& ui = *state.ui;
  if (!LinkReady(window_)) {
    ui.ShowMessage(kNoLink, "");
    return false;
  }
  const std::optional<TestPlan> plan = ReadPlan();
  if (!plan)
    return false;
  std::optional<ReferenceStandard> reference;
  for (const ReferenceStandard& s : references_) {
    if (s.name == plan->reference)
      reference = s;
  }
  const std::string unit = ChannelUnitName(state.Channel, state.ConnectSettings.P_unit);
  if (plan->rule == DecisionRule::kGuardBanded &&
      (!reference || !UncertaintyIn(*reference, state.Channel, unit))) {
    ui.ShowMessage(reference ? "Невизначеність еталона \"" + reference->name + "\" задано в " +
                                   reference->unit + ": її не перевести в " + unit + "."
                             : std::string("Для правила із захисною смугою оберіть еталон."),
                   "");
    return false;
  }
  if (reference && PastDue(*reference, TodayDate()) &&
      !ui.AskCautiously("Термін калібровки еталона \"" + reference->name + "\" минув: " +
                            (reference->due_date.empty() ? "дату не задано" : reference->due_date) +
                            ".",
                        std::string("Перевіряти з цим еталоном?"),
                        std::string("У сертифікаті його буде названо простроченим.")))
    return false;
  std::string reason;
  if (!SaveTestPlan(state.IniPath, state.Channel, *plan, &reason))
    ui.ShowMessage("Програму перевірки не збережено у файлі налаштувань: " + reason, "");

  CheckFromReference->setVisible(ReferenceConfigured(state));
  std::string instrument;
  if (identify && !IdentifyReference(instrument))
    return false;

  modbusbox* box = state.ActiveModbusBox.get();
  if (!window_.RunOwnExchange(
          [&] { return box->ReadCalibration(state.SensorOffset, state.SensorSlope); })) {
    if (!box->abort_requested)
      ui.ShowMessage(std::string(kReadFailed) + "\r" + box->ErrorText(), "");
    return false;
  }
  if (box->abort_requested || !LinkReady(window_))
    return false;

  double factor = 1.0;
  int digits = state.ConnectSettings.T_format;
  if (state.Channel == 0) {
    PressureFactor(state.ConnectSettings.P_unit, factor);
    digits = state.ConnectSettings.P_format;
  }
  if (run_id_.empty())
    run_id_ = NewRunId();
  VerificationRun run = NewVerificationRun(*plan, state.Channel, unit, factor, digits, reference);
  run.run = run_id_;
  run.stage = adjusted_ ? VerificationStage::kAsLeft : VerificationStage::kAsFound;
  run.calibration = SensorCalibration{state.SensorOffset, state.SensorSlope};
  run.instrument = instrument;
  current_ = run;
  running_ = true;
  LabelVerdict->clear();
  point_times_.clear();
  FillTable();
  return true;
}

void TFormVerify::ShowNext() {
  UpdateButtons();
  if (!current_)
    return;
  const std::vector<PlanPoint> sequence = RunSequence(*current_);
  const size_t next = NextPointIndex(*current_);
  if (next >= sequence.size()) {
    LabelPoint->setText(QStringLiteral("Усі точки виміряно. Повторіть точку або завершіть."));
    BtnMeasure->setText(QStringLiteral("Завершити перевірку"));
    BtnMeasure->setFocus();
    return;
  }
  const PlanPoint& p = sequence[next];
  BtnMeasure->setText(QStringLiteral("Набір статистики"));
  LabelPoint->setText(
      QStringLiteral("%1 — точка %2 з %3: подайте %4 %5 (%6) і %7.")
          .arg(Q(StageText(current_->stage)))
          .arg(next + 1)
          .arg(sequence.size())
          .arg(Fixed(p.nominal, current_->digits), Q(current_->unit))
          .arg(p.falling ? QStringLiteral("на спаданні") : QStringLiteral("на зростанні"))
          .arg(FromReference() ? QStringLiteral("наберіть статистику: подане прочитає еталон")
                               : QStringLiteral("введіть подане значення")));
  EditApplied->setText(Fixed(p.nominal, current_->digits));
  if (FromReference()) {
    BtnMeasure->setFocus();
  } else {
    EditApplied->setFocus();
    EditApplied->selectAll();
  }
}

void TFormVerify::Measure(const PlanPoint& point) {
  AppState& state = window_.state;
  ExchangeHost& ui = *state.ui;
  const bool from_reference = FromReference();
  std::optional<double> applied = point.nominal;
  if (!from_reference) {
    const std::string typed = Text(EditApplied);
    applied = ParseFloat(typed);
    if (!applied || !std::isfinite(*applied)) {
      ui.ShowMessage(NotANumberMessage(typed), "");
      return;
    }
  }
  const std::optional<PointReadings> readings =
      collect ? collect(*applied, from_reference) : std::nullopt;
  if (!readings || readings->sensor.count == 0 || !current_)
    return;
  VerificationPoint p;
  p.nominal = point.nominal;
  p.falling = point.falling;
  p.applied = *applied;
  if (from_reference) {
    // The statistics window refuses a point the reference has not read; this is the last guard.
    if (!readings->reference || readings->reference->count == 0) {
      ui.ShowMessage(ReferenceTitle(LoadReferenceSettings(state.IniPath)) +
                         ": показу еталона немає.\rТочку не записано.",
                     "");
      return;
    }
    p.applied = readings->reference->mean;
    p.source = AppliedSource::kInstrument;
    p.source_id = current_->instrument.empty()
                      ? ReferenceTitle(LoadReferenceSettings(state.IniPath))
                      : current_->instrument;
    p.applied_deviation = readings->reference->deviation;
    p.applied_readings = readings->reference->count;
  }
  p.mean = readings->sensor.mean;
  p.deviation = readings->sensor.deviation;
  p.readings = readings->sensor.count;
  RecordPoint(*current_, p);
  FillTable();
}

void TFormVerify::MeasureClick() {
  if (!running_ || !current_)
    return;
  const std::vector<PlanPoint> sequence = RunSequence(*current_);
  const size_t next = NextPointIndex(*current_);
  if (next >= sequence.size()) {
    EndRun(false);
    return;
  }
  Measure(sequence[next]);
  ShowNext();
}

void TFormVerify::RepeatClick() {
  const int row = TablePoints->currentRow();
  if (!running_ || !current_ || row < 0)
    return;
  const std::vector<PlanPoint> sequence = RunSequence(*current_);
  if (static_cast<size_t>(row) >= sequence.size())
    return;
  Measure(sequence[static_cast<size_t>(row)]);
  ShowNext();
}

void TFormVerify::CancelRunClick() {
  if (!running_)
    return;
  // Nothing is asked: the controller's output is to go off now.
  if (auto_running_) {
    auto_->Cancel();
    return;
  }
  if (!window_.state.ui->AskQuestion("Ви впевнені, що хочете", std::string("перервати перевірку?"),
                                     std::string("Виміряне буде збережено в журналі.")))
    return;
  EndRun(true);
}

void TFormVerify::EndRun(bool cancelled) {
  AppState& state = window_.state;
  current_->cancelled = cancelled;
  running_ = false;
  KeepJournalRecord(*state.ui, state.SettingsFolder,
                    VerificationJournalRecord(*current_, LinkRecord()));
  finished_.push_back(*current_);
  const Verdict verdict = RunVerdict(*current_);
  LabelVerdict->setText(cancelled
                            ? QStringLiteral("Перевірку перервано; виміряне збережено в журналі.")
                            : QStringLiteral("Висновок (%1): %2")
                                  .arg(Q(StageText(current_->stage)), Q(VerdictText(verdict))));
  LabelPoint->setText(QStringLiteral("Перевірку завершено."));
  BtnMeasure->setText(QStringLiteral("Набір статистики"));
  UpdateButtons();
  if (!cancelled && current_->stage == VerificationStage::kAsFound && verdict != Verdict::kPass &&
      state.ui->AskQuestion("Давач " + std::string(VerdictText(verdict)) + " допуску.",
                            std::string("Налаштувати його калібровкою за двома точками?"),
                            std::nullopt))
    AdjustClick();
}

void TFormVerify::AdjustClick() {
  // The as-found points nearest the ends of the range: the lowest and the highest applied.
  const VerificationRun* found = nullptr;
  for (const VerificationRun& r : finished_) {
    if (r.stage == VerificationStage::kAsFound && !r.points.empty())
      found = &r;
  }
  if (running_ || found == nullptr)
    return;
  std::array<float, 2> applied{static_cast<float>(found->points.front().applied),
                               static_cast<float>(found->points.front().applied)};
  for (const VerificationPoint& p : found->points) {
    applied[0] = std::min(applied[0], static_cast<float>(p.applied));
    applied[1] = std::max(applied[1], static_cast<float>(p.applied));
  }
  if (!adjust || !adjust(applied))
    return;
  adjusted_ = true;
  UpdateButtons();
  if (window_.state.ui->AskQuestion("Калібровку записано.",
                                    std::string("Виконати перевірку «як залишено»?"), std::nullopt))
    StartClick();
}

void TFormVerify::CertificateClick() {
  AppState& state = window_.state;
  if (running_ || finished_.empty())
    return;
  const std::string path = JournalPath(state.SettingsFolder);
  const std::vector<JournalRecord> lines = ReadJournalLines(path);
  std::optional<JournalRecord> entry;
  for (JournalRecord& r : GatherRuns(lines)) {
    if (r.run == run_id_)
      entry = std::move(r);
  }
  if (!entry) {
    state.ui->ShowMessage("У журналі калібровок немає записів цієї перевірки.", "");
    return;
  }
  CertificateDetails details;
  details.issued = TodayDate();
  details.number = NextCertificateNumber(lines, details.issued.substr(0, 4));
  details.engineer = Text(EditEngineer);
  details.customer = Text(EditCustomer);
  details.temperature = Text(EditAmbientT);
  details.pressure = Text(EditAmbientP);
  details.humidity = Text(EditHumidity);
  if (!details.engineer.empty())
    WriteIniString(state.IniPath, kSettingsSection, kEngineerKey, details.engineer);
  // The number is the journal's before it is on any paper.
  const JournalRecord record = CertificateJournalRecord(*entry, details);
  if (!KeepJournalRecord(*state.ui, state.SettingsFolder, record))
    return;
  entry->steps.push_back(record);
  if (show_certificate)
    show_certificate(*entry);
}

void TFormVerify::FillTable() {
  TablePoints->setRowCount(0);
  PlotErrors->Show(current_ ? &*current_ : nullptr);
  if (!current_)
    return;
  const VerificationRun& run = *current_;
  const std::vector<PlanPoint> sequence = RunSequence(run);
  TablePoints->setRowCount(static_cast<int>(sequence.size()));
  const int d = run.digits + 1;
  for (size_t i = 0; i < sequence.size(); ++i) {
    const int row = static_cast<int>(i);
    const auto put = [&](int column, const QString& text) {
      auto* item = new QTableWidgetItem(text);
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      TablePoints->setItem(row, column, item);
    };
    put(kNominal, Fixed(sequence[i].nominal, run.digits));
    put(kDirection, sequence[i].falling ? QStringLiteral("↓") : QStringLiteral("↑"));
    for (const VerificationPoint& p : run.points) {
      if (p.falling != sequence[i].falling ||
          std::fabs(p.nominal - sequence[i].nominal) > 1e-9 * std::max(1.0, run.span()))
        continue;
      put(kApplied, Fixed(p.applied, run.digits));
      const bool read = p.source == AppliedSource::kInstrument;
      put(kSource, read ? QStringLiteral("еталон") : QStringLiteral("введено"));
      if (read) {
        TablePoints->item(row, kSource)
            ->setToolTip(QStringLiteral("%1\nСКВ еталона %2 з %3 показів")
                             .arg(Q(p.source_id), Fixed(p.applied_deviation, d))
                             .arg(p.applied_readings));
      }
      put(kMean, Fixed(p.mean, d));
      put(kDeviation, Fixed(p.deviation, d));
      put(kCount, QString::number(p.readings));
      put(kError, Fixed(p.error, d));
      put(kOfReading, p.error_of_reading ? Fixed(*p.error_of_reading, 3) : QStringLiteral("—"));
      put(kOfSpan, Fixed(p.error_of_span, 3));
      put(kTolerance, Fixed(p.tolerance, d));
      put(kVerdict, Q(VerdictText(p.verdict)));
      if (const auto t = point_times_.find(i); t != point_times_.end())
        put(kTime, QString::number(t->second / 1000.0, 'f', 1));
    }
  }
  QString hysteresis;
  for (const Hysteresis& h : HysteresisOf(run)) {
    hysteresis +=
        (hysteresis.isEmpty() ? QStringLiteral("Гістерезис: ") : QStringLiteral("; ")) +
        QStringLiteral("%1 — %2 %3 (%4 % діапазону)")
            .arg(Fixed(h.nominal, run.digits), Fixed(h.value, d), Q(run.unit), Fixed(h.of_span, 3));
  }
  LabelHysteresis->setText(hysteresis);
  if (!run.points.empty())
    LabelVerdict->setText(
        QStringLiteral("За виміряними точками: %1").arg(Q(VerdictText(RunVerdict(run)))));
}

void TFormVerify::UpdateButtons() {
  if (auto_running_) {
    for (QWidget* w : findChildren<QWidget*>()) {
      if (qobject_cast<QPushButton*>(w) || qobject_cast<QLineEdit*>(w) ||
          qobject_cast<QComboBox*>(w) || qobject_cast<QCheckBox*>(w))
        w->setEnabled(false);
    }
    BtnCancelRun->setEnabled(true);
    return;
  }
  const ReferenceSettings reference = LoadReferenceSettings(window_.state.IniPath);
  BtnAuto->setVisible(reference.port != 0 && reference.controller);
  BtnAuto->setEnabled(!running_);
  BtnClose->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{EditEngineer, EditCustomer, EditAmbientT,
                                                    EditAmbientP, EditHumidity, CheckFromReference})
    w->setEnabled(true);
  const bool found = std::any_of(finished_.begin(), finished_.end(), [](const auto& r) {
    return r.stage == VerificationStage::kAsFound && !r.points.empty();
  });
  BtnStart->setEnabled(!running_);
  BtnMeasure->setEnabled(running_);
  EditApplied->setEnabled(running_ && !FromReference());
  BtnRepeat->setEnabled(running_ && TablePoints->currentRow() >= 0);
  BtnCancelRun->setEnabled(running_);
  BtnAdjust->setEnabled(!running_ && found);
  BtnCertificate->setEnabled(!running_ && !finished_.empty());
  for (QWidget* w : std::initializer_list<QWidget*>{EditRangeLow, EditRangeHigh, EditPoints,
                                                    ComboDirection, EditTolerance,
                                                    ComboToleranceKind, ComboRule, ComboReference})
    w->setEnabled(!running_);
}

bool TFormVerify::FromReference() const {
  return !CheckFromReference->isHidden() && CheckFromReference->isChecked();
}

bool TFormVerify::IdentifyReference(std::string& id) {
  AppState& state = window_.state;
  std::string error;
  bool ok = OpenReference(state, error);
  if (ok && !state.Reference->settings().identify.empty())
    ok = state.Reference->Identify(id, error) == ReferenceLink::Result::kOk;
  if (!ok) {
    state.ui->ShowMessage(error +
                              "\rЩоб увести подані значення вручну, зніміть позначку «з "
                              "еталонного приладу».",
                          "");
  }
  return ok;
}

void TFormVerify::keyPressEvent(QKeyEvent* event) {
  // Esc stops an unattended run at once and leaves the window open on what was measured.
  if (auto_running_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    CancelRunClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFormVerify::CloseUnasked() {
  if (running_ && !auto_running_)
    EndRun(true);
  reject();
}

void TFormVerify::reject() {
  // Closed under an unattended run (the close box, the program terminated): it stops at once,
  // the output is vented, and the window closes once the tick running now has returned.
  if (auto_running_) {
    close_pending_ = true;
    auto_->Cancel();
    return;
  }
  if (auto_ && !DropAutoRun()) {
    window_.state.ui->ShowMessage(
        ReferenceTitle(LoadReferenceSettings(window_.state.IniPath)) +
            ": тиск не скинуто — порт недоступний. Скиньте тиск на приладі вручну.",
        "");
    auto_.reset();
  }
  // Esc and the close box end a run as "Перервати перевірку" does: what was measured stays.
  if (running_) {
    if (!window_.state.ui->AskQuestion("Ви впевнені, що хочете",
                                       std::string("перервати перевірку?"),
                                       std::string("Виміряне буде збережено в журналі.")))
      return;
    EndRun(true);
  }
  QDialog::reject();
}

TFormVerify::~TFormVerify() {
  // The run's engine vents on its way out, before the run it refers to goes.
  auto_.reset();
}

void TFormVerify::AutoClick() {
  AppState& state = window_.state;
  ExchangeHost& ui = *state.ui;
  if (running_)
    return;
  if (!DropAutoRun()) {
    ui.ShowMessage(ReferenceTitle(LoadReferenceSettings(state.IniPath)) +
                       ": тиск попередньої перевірки ще не скинуто — порт недоступний.",
                   "");
    return;
  }
  const ReferenceSettings settings = LoadReferenceSettings(state.IniPath);
  if (settings.port == 0 || !settings.controller) {
    ui.ShowMessage(
        "Автоматична перевірка потребує контролера тиску: задайте його в «Сервіс → "
        "Еталонний прилад...».",
        "");
    return;
  }
  if (!LinkReady(window_)) {
    ui.ShowMessage(kNoLink, "");
    return;
  }
  std::string error;
  if (!OpenReference(state, error)) {
    ui.ShowMessage(error, "");
    return;
  }
  if (!PrepareRun(false))
    return;
  auto_ = std::make_unique<VerifyAutoRun>(window_, *current_, nullptr);
  auto_->on_progress = [this] { ShowAutoProgress(); };
  auto_->on_event = [this](const InstrumentEvent& e) {
    if (e.kind == InstrumentEvent::Kind::kPointDone) {
      point_times_[e.index] = e.point_ms;
      FillTable();
    }
  };
  auto_->on_end = [this] { AutoEnded(); };
  auto_running_ = true;
  UpdateButtons();
  BtnCancelRun->setFocus();
  LabelPoint->setText(QStringLiteral("Автоматично: ідентифікація еталона..."));
  auto_->Start();
}

void TFormVerify::ShowAutoProgress() {
  if (!auto_ || !current_)
    return;
  const InstrumentRun& engine = auto_->engine();
  const InstrumentProgress& p = engine.progress();
  const std::string unit = current_->unit;
  const int digits = current_->digits;
  QString awaits;
  switch (engine.phase()) {
    case InstrumentPhase::kStarting:
      awaits = QStringLiteral("ідентифікація еталона");
      break;
    case InstrumentPhase::kSetting:
      awaits = QStringLiteral("задання уставки");
      break;
    default:
      awaits = QString::fromUtf8(InstrumentAwaitsText(p.awaits));
  }
  if (engine.ended()) {
    LabelPoint->setText(engine.vent_pending()
                            ? QStringLiteral("Перевірку зупинено; очікується порт еталона, щоб "
                                             "скинути тиск.")
                            : QStringLiteral("Автоматичну перевірку завершено; тиск скинуто."));
  } else if (p.count > 0) {
    LabelPoint->setText(
        QStringLiteral("Автоматично — точка %1 з %2: %3 %4 %5; %6, %7 с.")
            .arg(p.index + 1)
            .arg(p.count)
            .arg(Fixed(p.point.nominal, digits), Q(unit))
            .arg(p.point.falling ? QStringLiteral("на спаданні") : QStringLiteral("на зростанні"))
            .arg(awaits.isEmpty() ? QStringLiteral("виконується") : awaits)
            .arg(p.point_elapsed_ms / 1000));
  }
  const auto shown = [&](const std::optional<double>& v) {
    return v ? Fixed(*v, digits) + QStringLiteral(" ") + Q(unit) : QStringLiteral("—");
  };
  LabelLive->setText(QStringLiteral("Еталон: %1 (СКВ %2)    Давач: %3 (СКВ %4)")
                         .arg(shown(p.reference), Fixed(p.reference_spread.deviation, digits + 1),
                              shown(p.sensor), Fixed(p.sensor_spread.deviation, digits + 1)));
}

void TFormVerify::AutoEnded() {
  const InstrumentRun& engine = auto_->engine();
  auto_running_ = false;
  FillTable();  // the last point's time: it is told before the point is recorded
  if (!engine.message().empty())
    window_.state.ui->ShowMessage(engine.message(), "");
  if (close_pending_) {
    close_pending_ = false;
    EndRun(true);
    // Not from inside the run's own call.
    QMetaObject::invokeMethod(this, &TFormVerify::reject, Qt::QueuedConnection);
    return;
  }
  EndRun(engine.phase() != InstrumentPhase::kDone);
  ShowAutoProgress();
}

bool TFormVerify::DropAutoRun() {
  if (!auto_ || auto_running_)
    return !auto_running_;
  if (!auto_->Close())
    return false;
  auto_.reset();
  return true;
}

void ShowVerification(TFormMain& window) {
  TFormVerify dialog(window, &window);
  dialog.exec();
}
