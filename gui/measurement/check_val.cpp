#include "gui/measurement/check_val.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <string>
#include <utility>

#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/calibration.h"
#include "core/number_format.h"
#include "core/reading_log.h"
#include "core/suplfunc.h"
#include "gui/dialog_widgets.h"
#include "gui/measurement/trend_view.h"

TFormCheck_Val* FormCheck_Val = nullptr;

namespace {

constexpr int kPanelMinWidth = 120;
constexpr int kStatsPanelWidth = 90;
// The trend is redrawn at most this often, however fast the readings come: the eye gains
// nothing from more, and the processor loses.
constexpr double kRefreshSeconds = 0.5;
// Points drawn per line: about one per pixel of a wide chart.
constexpr size_t kDrawnPoints = 500;
constexpr int kWindowMinutes[] = {1, 5, 15, 60};

}  // namespace

TFormCheck_Val::TFormCheck_Val(AppState& state, QWidget* parent)
    : ValuePollingDialog(state, parent, QStringLiteral("Кількість вимірювань")),
      variable_(FormCheck_Val, this) {
  setObjectName(QStringLiteral("FormCheck_Val"));

  GroupBox1 = MakeGroupBox(this, "GroupBox1", QStringLiteral(" Поточні значення у давачі "));
  GroupBox2 = MakeGroupBox(this, "GroupBox2", QStringLiteral(" За налаштуванням виробника "));

  Panel3 = MakeValuePanel(GroupBox1, "Panel3", QStringLiteral("Нахил у давачі"), kPanelMinWidth);
  Panel4 = MakeValuePanel(GroupBox1, "Panel4", QStringLiteral("Зміщення у давачі"), kPanelMinWidth);
  Panel5 = MakeValuePanel(GroupBox1, "Panel5", QStringLiteral("Значення у давачі"), kPanelMinWidth);
  Label15 = MakePlainLabel(GroupBox1, "Label15");
  Label16 = MakePlainLabel(GroupBox1, "Label16");

  Panel1 = MakeValuePanel(GroupBox2, "Panel1", QStringLiteral("Нахил виробника"), kPanelMinWidth);
  Panel2 =
      MakeValuePanel(GroupBox2, "Panel2", QStringLiteral("Зміщення виробника"), kPanelMinWidth);
  Panel6 = MakeValuePanel(GroupBox2, "Panel6",
                          QStringLiteral("Значення за налаштуванням виробника"), kPanelMinWidth);
  Label12 = MakePlainLabel(GroupBox2, "Label12");
  Label18 = MakePlainLabel(GroupBox2, "Label18");
  Panel1->setText(QStringLiteral("1"));
  Panel2->setText(QStringLiteral("0"));

  struct Row {
    const char* name;
    const char* text;
  };
  const Row kRows[2][3] = {
      {{"Label1", "Нахил"}, {"Label2", "Зміщення"}, {"Label3", "Значення"}},
      {{"Label4", "Нахил"}, {"Label5", "Зміщення"}, {"Label6", "Значення"}},
  };
  QGroupBox* groups[2] = {GroupBox1, GroupBox2};
  QLabel* panels[2][3] = {{Panel3, Panel4, Panel5}, {Panel1, Panel2, Panel6}};
  QLabel* units[2][3] = {{nullptr, Label15, Label16}, {nullptr, Label12, Label18}};
  for (int g = 0; g < 2; ++g) {
    auto* grid = new QGridLayout(groups[g]);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(2, 70);
    for (int r = 0; r < 3; ++r) {
      QLabel* caption =
          MakePlainLabel(groups[g], kRows[g][r].name, QString::fromUtf8(kRows[g][r].text));
      caption->setBuddy(panels[g][r]);
      grid->addWidget(caption, r, 0);
      grid->addWidget(panels[g][r], r, 1);
      if (units[g][r])
        grid->addWidget(units[g][r], r, 2);
    }
  }

  BitBtn5 = MakeDialogButton(this, "BitBtn5", QStringLiteral("Выход"), QStyle::SP_DialogCloseButton,
                             EnterKey::kPresses);
  BitBtn5->setMinimumWidth(90);

  BuildTrend();

  auto* body = new QVBoxLayout;
  auto* groups_row = new QHBoxLayout;
  groups_row->addWidget(GroupBox1);
  groups_row->addWidget(GroupBox2);
  body->addLayout(groups_row);
  body->addWidget(TrendPanel, 1);
  auto* commands = new QHBoxLayout;
  commands->addWidget(CheckBox1);
  commands->addSpacing(12);
  commands->addWidget(BitBtn7);
  commands->addWidget(Label19, 1);
  commands->addWidget(BitBtn5);
  body->addLayout(commands);
  body->setContentsMargins(10, 10, 10, 6);
  LayOutOverStatusBar(this, body, StatusBar1);

  connect(BitBtn5, &QPushButton::clicked, this, &TFormCheck_Val::BitBtn5Click);
  SetTabOrder({ComboBox1, ComboBox2, ComboBox3, BitBtn6, CheckBox1, BitBtn7, BitBtn5});
  BitBtn5->setFocus();

  choose_log_file = [this](const QString& proposed) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Запис показів у файл"), proposed,
                                        QStringLiteral("Таблиця CSV (*.csv)"));
  };
  log_decimal_mark = QLocale::system().decimalPoint().front();
}

void TFormCheck_Val::BuildTrend() {
  TrendPanel = new QWidget(this);
  TrendPanel->setObjectName(QStringLiteral("TrendPanel"));
  Chart1 = new TrendView(TrendPanel, "Chart1",
                         {QStringLiteral("У давачі"), QStringLiteral("За налаштуванням виробника")},
                         false);

  ComboBox1 = MakeList(TrendPanel, "ComboBox1");
  for (int minutes : kWindowMinutes)
    ComboBox1->addItem(QStringLiteral("%1 хв").arg(minutes));
  ComboBox1->setCurrentIndex(1);
  ComboBox2 = MakeList(TrendPanel, "ComboBox2");
  ComboBox2->addItem(QStringLiteral("секунди"));
  ComboBox2->addItem(QStringLiteral("хвилини"));
  ComboBox3 = MakeList(TrendPanel, "ComboBox3");
  ComboBox3->addItem(QStringLiteral("обидві"));
  ComboBox3->addItem(QStringLiteral("у давачі"));
  ComboBox3->addItem(QStringLiteral("виробника"));
  BitBtn6 =
      MakeDialogButton(TrendPanel, "BitBtn6", QStringLiteral("Пауза"), EnterKey::kWhenFocused);
  QLabel* window_label = MakePlainLabel(TrendPanel, "Label20", QStringLiteral("Вікно"));
  window_label->setBuddy(ComboBox1);
  QLabel* axis_label = MakePlainLabel(TrendPanel, "Label21", QStringLiteral("Вісь часу"));
  axis_label->setBuddy(ComboBox2);
  QLabel* lines_label = MakePlainLabel(TrendPanel, "Label22", QStringLiteral("Лінії"));
  lines_label->setBuddy(ComboBox3);
  auto* controls = new QHBoxLayout;
  controls->addWidget(window_label);
  controls->addWidget(ComboBox1);
  controls->addSpacing(10);
  controls->addWidget(axis_label);
  controls->addWidget(ComboBox2);
  controls->addSpacing(10);
  controls->addWidget(lines_label);
  controls->addWidget(ComboBox3);
  controls->addStretch(1);
  controls->addWidget(BitBtn6);

  GroupBox3 = MakeGroupBox(TrendPanel, "GroupBox3", QStringLiteral(" За вікно "));
  auto* stats = new QGridLayout(GroupBox3);
  stats->addWidget(MakePlainLabel(GroupBox3, nullptr, QStringLiteral("У давачі")), 0, 1,
                   Qt::AlignCenter);
  stats->addWidget(MakePlainLabel(GroupBox3, nullptr, QStringLiteral("Виробника")), 0, 2,
                   Qt::AlignCenter);
  struct Row {
    QLabel** panels;
    const char* name;
    const char* caption;
  };
  const Row rows[] = {
      {Panel7, "Panel7", "Мінімум"},
      {Panel8, "Panel8", "Максимум"},
      {Panel9, "Panel9", "Середнє"},
      {Panel10, "Panel10", "Ст. відхилення"},
  };
  int row = 1;
  for (const Row& r : rows) {
    const QString caption = QString::fromUtf8(r.caption);
    for (int i = 0; i < 2; ++i) {
      const QByteArray name = QByteArray(r.name) + (i == 0 ? "a" : "b");
      r.panels[i] = MakeValuePanel(
          GroupBox3, name.constData(),
          caption + (i == 0 ? QStringLiteral(" у давачі") : QStringLiteral(" виробника")),
          kStatsPanelWidth);
      stats->addWidget(r.panels[i], row, i + 1);
    }
    QLabel* label = MakePlainLabel(GroupBox3, nullptr, caption);
    label->setBuddy(r.panels[0]);
    stats->addWidget(label, row++, 0);
  }
  Panel11 =
      MakeValuePanel(GroupBox3, "Panel11", QStringLiteral("Вимірювань у вікні"), kStatsPanelWidth);
  QLabel* count_label = MakePlainLabel(GroupBox3, nullptr, QStringLiteral("Вимірювань"));
  count_label->setBuddy(Panel11);
  stats->addWidget(count_label, row, 0);
  stats->addWidget(Panel11, row++, 1);
  stats->setRowStretch(row, 1);

  auto* chart_column = new QVBoxLayout;
  chart_column->setContentsMargins(0, 0, 0, 0);
  chart_column->addWidget(Chart1, 1);
  chart_column->addLayout(controls);
  auto* panel = new QHBoxLayout(TrendPanel);
  panel->setContentsMargins(0, 0, 0, 0);
  panel->addLayout(chart_column, 1);
  panel->addWidget(GroupBox3);

  CheckBox1 = new QCheckBox(QStringLiteral("Графік"), this);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setChecked(true);
  BitBtn7 =
      MakeDialogButton(this, "BitBtn7", QStringLiteral("Запис у файл"), EnterKey::kWhenFocused);
  Label19 = MakePlainLabel(this, "Label19");
  Label19->setAccessibleName(QStringLiteral("Запис показів"));

  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool shown) {
    TrendPanel->setVisible(shown);
    adjustSize();
    if (shown)
      RefreshTrend();
  });
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { RefreshTrend(); });
  connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this](int index) {
    Chart1->SetMinutes(index == 1);
    RefreshTrend();
  });
  // One line alone gets the whole height: its noise is not flattened by the other's offset.
  connect(ComboBox3, &QComboBox::currentIndexChanged, this, [this](int index) {
    Chart1->ShowLine(0, index != 2);
    Chart1->ShowLine(1, index != 1);
    RefreshTrend();
  });
  connect(BitBtn6, &QPushButton::clicked, this, &TFormCheck_Val::BitBtn6Click);
  connect(BitBtn7, &QPushButton::clicked, this, &TFormCheck_Val::BitBtn7Click);
}

double TFormCheck_Val::window_seconds() const {
  const int index = std::clamp(ComboBox1->currentIndex(), 0, 3);
  return kWindowMinutes[index] * 60.0;
}

double TFormCheck_Val::Now() {
  Clock& clock = *state_.clock;
  if (!started_) {
    started_ = true;
    start_counter_ = clock.Counter();
  }
  return static_cast<double>(clock.Counter() - start_counter_) /
         static_cast<double>(clock.Frequency());
}

void TFormCheck_Val::RefreshTrend() {
  last_refresh_ = series_.last_time();
  if (paused_ || !TrendPanel->isVisible())
    return;
  const double window = window_seconds();
  Chart1->SetValueLines(series_.Window(window, kDrawnPoints));
  const double end = std::max(series_.last_time(), window);
  Chart1->ShowSpan(end - window, end);

  for (int i = 0; i < 2; ++i) {
    const WindowStats st = series_.Stats(window, i == 1);
    const bool any = st.count > 0;
    Panel7[i]->setText(any ? Fixed(st.minimum, digits_) : QString());
    Panel8[i]->setText(any ? Fixed(st.maximum, digits_) : QString());
    Panel9[i]->setText(any ? Fixed(st.mean, digits_ + 1) : QString());
    Panel10[i]->setText(any ? Fixed(st.deviation, digits_ + 1) : QString());
    if (i == 0)
      Panel11->setText(QString::number(st.count));
  }
}

void TFormCheck_Val::TrendIfDue() {
  if (last_refresh_ < 0.0 || series_.last_time() - last_refresh_ >= kRefreshSeconds ||
      series_.last_time() < last_refresh_)
    RefreshTrend();
}

void TFormCheck_Val::BitBtn6Click() {
  paused_ = !paused_;
  BitBtn6->setText(paused_ ? QStringLiteral("Продовжити") : QStringLiteral("Пауза"));
  if (!paused_)
    RefreshTrend();
}

void TFormCheck_Val::BitBtn7Click() {
  if (log_.is_open()) {
    StopLog();
    return;
  }
  const QString path = choose_log_file ? choose_log_file(ProposedLogPath()) : QString();
  if (!path.isEmpty())
    StartLog(QString::fromStdString(WithCsvExtension(path.toStdString())));
}

QString TFormCheck_Val::ProposedLogPath() const {
  const TConnectSettings& s = state_.ConnectSettings;
  const int address = state_.Channel == 0 ? s.adr_P : s.adr_T;
  const int line = s.conn_type == 1 ? s.line_num : 0;
  QString folder = QString::fromStdString(state_.LastLogFolder);
  if (folder.isEmpty())
    folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  const QString name = QString::fromStdString(
      ReadingLogFileName(state_.Channel, line, address, std::chrono::system_clock::now()));
  return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

bool TFormCheck_Val::StartLog(const QString& path) {
  std::string error;
  // A spreadsheet reads a comma or a full stop; any other mark of a locale gets the full stop.
  const char mark = log_decimal_mark == QLatin1Char(',') ? ',' : '.';
  if (!log_.Open(path.toStdString(), mark, error)) {
    state_.ui->ShowMessage("Запис показів у файл не почато:\r" + path.toStdString() + ": " + error,
                           "");
    return false;
  }
  log_start_ = Now();
  state_.LastLogFolder = QFileInfo(path).absolutePath().toStdString();
  BitBtn7->setText(QStringLiteral("Зупинити запис"));
  ShowLogState();
  return true;
}

void TFormCheck_Val::StopLog() {
  log_.Close();
  BitBtn7->setText(QStringLiteral("Запис у файл"));
  ShowLogState();
}

void TFormCheck_Val::Log(const LogReading& reading) {
  if (!log_.is_open())
    return;
  LogReading row = reading;
  row.when = std::chrono::system_clock::now();
  row.seconds = Now() - log_start_;
  row.unit = unit_.toStdString();
  row.channel = LogChannelName(state_.Channel);
  log_.Append(row);
  ShowLogState();
}

void TFormCheck_Val::ShowLogState() {
  if (log_.path().empty()) {
    Label19->clear();
    return;
  }
  // Once stopped, the line stays: where the rows went and how many there are.
  const QString path = QString::fromStdString(log_.path());
  const QString name = QFileInfo(path).fileName();
  const QString what = log_.is_open() ? QStringLiteral("Запис") : QStringLiteral("Записано");
  const std::string error = log_.error();
  Label19->setText(
      error.empty() ? QStringLiteral("%1: %2, рядків %3").arg(what, name).arg(log_.rows_written())
                    : QStringLiteral("%1: %2: %3").arg(what, name, QString::fromStdString(error)));
  Label19->setToolTip(QDir::toNativeSeparators(path));
}

void TFormCheck_Val::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!std::exchange(shown_, true))
    FormShow();
}

void TFormCheck_Val::FormShow() {
  const TConnectSettings& settings = state_.ConnectSettings;
  if (state_.Channel == 1) {
    setWindowTitle(QStringLiteral(" Поточні значення температури"));
    factor_ = 1.0;
    digits_ = settings.T_format;
  } else {
    setWindowTitle(QStringLiteral(" Поточні значення тиску"));
    // The display settings dialog only lets a listed unit through; an unlisted index shows
    // the values in kPa, as their unit's name says.
    factor_ = PressureUnits[static_cast<size_t>(ListedPressureUnit(settings.P_unit))].factor;
    digits_ = settings.P_format;
  }
  const QString unit = QString::fromStdString(ChannelUnitName(state_.Channel, settings.P_unit));
  unit_ = unit;
  Chart1->SetUnit(unit);
  const double offset = static_cast<double>(state_.SensorOffset) * factor_;
  Panel4->setText(Fixed(offset, kCalibrationDecimals));
  for (QLabel* label : {Label15, Label16, Label12, Label18})
    label->setText(unit);
  Panel3->setText(Fixed(state_.SensorSlope, kCalibrationDecimals));

  StartPolling();
}

void TFormCheck_Val::Timer1Timer() {
  float reading = 0.0f;
  const ReadOutcome outcome = ReadValue(reading);
  if (outcome == ReadOutcome::kSkipped || outcome == ReadOutcome::kGone)
    return;
  if (outcome == ReadOutcome::kFailed || outcome == ReadOutcome::kLinkLost) {
    // A lost link is logged too: the row says so, and the log goes on once the link is back.
    LogReading failed;
    failed.error = StatusBar1Panel0->text().toStdString();
    Log(failed);
    series_.Break();
  } else if (outcome == ReadOutcome::kValue) {
    if (IsBadFloat(&reading)) {
      Panel5->setText(QStringLiteral("NAN"));
      Panel6->setText(QStringLiteral("NAN"));
      LogReading nan;
      nan.error = "NAN";
      Log(nan);
      series_.Break();
    } else {
      const MonitorValues shown =
          ConvertReading(reading, state_.SensorOffset, state_.SensorSlope, factor_);
      value_ = shown.value;
      factory_value_ = shown.factory_value;
      Panel5->setText(Fixed(value_, digits_));
      Panel6->setText(Fixed(factory_value_, digits_));
      state_.LastValue = value_;
      ++count_;
      StatusBar1Panel1->setText(QStringLiteral(" %1").arg(count_));
      LogReading good;
      good.reported = value_;
      good.factory = factory_value_;
      Log(good);
      series_.Add({Now(), value_, factory_value_});
      TrendIfDue();
    }
  }
  FinishDeferredClose();
}

void TFormCheck_Val::SetValuesStale(bool stale) {
  for (QLabel* panel : {Panel5, Panel6})
    panel->setEnabled(!stale);
}

void TFormCheck_Val::BitBtn5Click() {
  close();
}

void TFormCheck_Val::done(int result) {
  StopLog();
  ValuePollingDialog::done(result);
}
