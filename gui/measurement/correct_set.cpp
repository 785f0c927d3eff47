#include "gui/measurement/correct_set.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>
#include <utility>

#include "core/app_state.h"
#include "core/calibration.h"
#include "core/calibration_checks.h"
#include "core/number_format.h"
#include "gui/dialog_widgets.h"
#include "gui/measurement/correct_nshp.h"

TFormCorrect_Set* FormCorrect_Set = nullptr;

namespace {

const char kNotAllData[] = "Введені не всі дані для запису";
const char kZeroSlope[] = "Нахил не може бути рівним 0";
// Each offset edit rewrites the other; the rounding to 5 decimals settles within a few
// rounds, and this bound keeps a pair that would not settle from recursing without end.
constexpr int kMaxFollowDepth = 8;

constexpr int kValueWidth = 110;

// Row captions and group titles; both panels show the same rows in the same groups.
const char kApplied[] = "Подане значення";
const char kReceived[] = "Отримане значення";
const char kSlope[] = "Коефіцієнт нахилу";
const char kOffset[] = "Зміщення";
const char kFirstPoint[] = " Перша точка ";
const char kSecondPoint[] = " Друга точка ";
const char kCurrent[] = " Поточні значення у давачі ";
const char kNew[] = " Нові розраховані значення ";
const char kPredicted[] = " Показ давача з новими значеннями ";
const char kAtFirst[] = "У першій точці";
const char kAtSecond[] = "У другій точці";
const char kDoubtful[] = "Перевірте нові значення:";
const char kWriteAnyway[] = "Все одно записати у давач?";

// What assistive tools call the values; the kPa twin of a value adds kSpokenInKpa.
const char kSpokenApplied1[] = "Точка 1, подане значення";
const char kSpokenReceived1[] = "Точка 1, отримане значення";
const char kSpokenApplied2[] = "Точка 2, подане значення";
const char kSpokenReceived2[] = "Точка 2, отримане значення";
const char kSpokenSlope[] = "Поточний коефіцієнт нахилу";
const char kSpokenOffset[] = "Поточне зміщення";
const char kSpokenNewSlope[] = "Новий коефіцієнт нахилу";
const char kSpokenNewOffset[] = "Нове зміщення";
const char kSpokenPredicted1[] = "Показ давача з новими значеннями у першій точці";
const char kSpokenPredicted2[] = "Показ давача з новими значеннями у другій точці";
const char kSpokenInKpa[] = " в кПа";

QString InKpa(const char* spoken) {
  return QString::fromUtf8(spoken) + QString::fromUtf8(kSpokenInKpa);
}

// The values of a panel are all of one width, right-aligned and open to copying.
QLabel* ValuePanel(QWidget* parent, const char* name, const QString& spoken) {
  QLabel* panel = MakeValuePanel(parent, name, spoken, kValueWidth);
  panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  panel->setFixedWidth(kValueWidth);
  return panel;
}

QLineEdit* ValueEdit(QWidget* parent, const char* name, const QString& spoken) {
  QLineEdit* edit = MakeValueEdit(parent, name, spoken);
  edit->setFixedWidth(kValueWidth);
  return edit;
}

QFrame* MakePanel(QWidget* parent, const char* name) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QLatin1String(name));
  return panel;
}

// Enter must never write into the sensor: the write happens only when its own button is
// activated (a click, Space on it).
std::pair<QPushButton*, QPushButton*> MakeWriteCancelButtons(QWidget* parent, const char* write,
                                                             const char* cancel) {
  return {MakeDialogButton(parent, write, QStringLiteral("Записати у пристрій"), EnterKey::kNever),
          MakeDialogButton(parent, cancel, QStringLiteral("Відмінити"), EnterKey::kNever)};
}

// A group of two rows, caption, value and unit in the display unit, then optionally the value
// in kPa and its unit.
struct Row {
  const char* caption;
  QWidget* value;
  QLabel* unit;  // null: the value has no unit
  QWidget* kpa_value = nullptr;
};

// Column widths shared by all groups of a panel, so that their columns line up.
struct Columns {
  int caption;
  int unit;
};

Columns MeasureColumns(const QWidget* widget) {
  const QFontMetrics metrics = widget->fontMetrics();
  Columns columns{0, 0};
  for (const char* caption : {kApplied, kReceived, kSlope, kAtFirst, kAtSecond})
    columns.caption =
        std::max(columns.caption, metrics.horizontalAdvance(QString::fromUtf8(caption)));
  for (const PressureUnit& unit : PressureUnits)
    columns.unit = std::max(columns.unit, metrics.horizontalAdvance(QString::fromUtf8(unit.name)));
  columns.caption += 12;
  columns.unit += 12;
  return columns;
}

QGroupBox* Group(const char* title, const Row (&rows)[2], const Columns& columns, QWidget* parent) {
  QGroupBox* group = MakeGroupBox(parent, nullptr, QString::fromUtf8(title));
  auto* grid = new QGridLayout(group);
  grid->setColumnMinimumWidth(0, columns.caption);
  grid->setColumnMinimumWidth(2, columns.unit);
  for (int r = 0; r < 2; ++r) {
    const Row& row = rows[r];
    row.value->setParent(group);
    QLabel* caption = MakeLabel(group, nullptr, QString::fromUtf8(row.caption));
    caption->setBuddy(row.value);
    grid->addWidget(caption, r, 0);
    grid->addWidget(row.value, r, 1);
    if (row.unit) {
      row.unit->setParent(group);
      grid->addWidget(row.unit, r, 2);
    }
    if (row.kpa_value) {
      row.kpa_value->setParent(group);
      grid->addWidget(row.kpa_value, r, 3);
      grid->addWidget(
          MakeLabel(group, nullptr, QString::fromUtf8(PressureUnits[kKilopascalUnit].name)), r, 4);
    }
  }
  return group;
}

}  // namespace

std::string UnwritableValueMessage(std::string_view text) {
  return "Значення \"" + std::string(text) +
         "\" не можна записати у давач\r(допустимі лише скінченні числа, за модулем до "
         "3.4E+38)";
}

TFormCorrect_Set::TFormCorrect_Set(AppState& state, QWidget* parent)
    : QDialog(parent), state_(state), variable_(FormCorrect_Set, this) {
  setObjectName(QStringLiteral("FormCorrect_Set"));
  setWindowTitle(QStringLiteral(" Результати виконаної коррекції "));

  BuildFirstPanel();
  BuildSecondPanel();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pn_1);
  layout->addWidget(pn_2);
  // The dialog takes the size of whichever panel is shown.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(BitBtn1, &QPushButton::clicked, this, &TFormCorrect_Set::BitBtn1Click);
  connect(BitBtn4, &QPushButton::clicked, this, &TFormCorrect_Set::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormCorrect_Set::BitBtn2Click);
  connect(BitBtn3, &QPushButton::clicked, this, &TFormCorrect_Set::BitBtn2Click);
  connect(Edit4, &QLineEdit::textChanged, this, &TFormCorrect_Set::Edit4Change);
  connect(Edit5, &QLineEdit::textChanged, this, &TFormCorrect_Set::Edit5Change);
  for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit5})
    connect(edit, &QLineEdit::textChanged, this, &TFormCorrect_Set::UpdatePredicted);
}

void TFormCorrect_Set::BuildFirstPanel() {
  pn_1 = MakePanel(this, "pn_1");
  Panel1 = ValuePanel(pn_1, "Panel1", QString::fromUtf8(kSpokenApplied1));
  Panel2 = ValuePanel(pn_1, "Panel2", QString::fromUtf8(kSpokenReceived1));
  Panel3 = ValuePanel(pn_1, "Panel3", QString::fromUtf8(kSpokenApplied2));
  Panel4 = ValuePanel(pn_1, "Panel4", QString::fromUtf8(kSpokenReceived2));
  Panel5 = ValuePanel(pn_1, "Panel5", QString::fromUtf8(kSpokenSlope));
  Panel6 = ValuePanel(pn_1, "Panel6", QString::fromUtf8(kSpokenOffset));
  Edit1 = ValueEdit(pn_1, "Edit1", QString::fromUtf8(kSpokenNewSlope));
  Edit2 = ValueEdit(pn_1, "Edit2", QString::fromUtf8(kSpokenNewOffset));
  for (const Caption& unit : {Caption{Label3, "Label3", {}}, Caption{Label4, "Label4", {}},
                              Caption{Label7, "Label7", {}}, Caption{Label8, "Label8", {}},
                              Caption{Label12, "Label12", {}}, Caption{Label15, "Label15", {}}})
    unit.label = MakeLabel(pn_1, unit.name);

  const Columns columns = MeasureColumns(this);
  auto* groups = new QGridLayout;
  groups->addWidget(
      Group(kFirstPoint, {{kApplied, Panel1, Label3}, {kReceived, Panel2, Label4}}, columns, pn_1),
      0, 0);
  groups->addWidget(
      Group(kSecondPoint, {{kApplied, Panel3, Label7}, {kReceived, Panel4, Label8}}, columns, pn_1),
      0, 1);
  groups->addWidget(
      Group(kCurrent, {{kSlope, Panel5, nullptr}, {kOffset, Panel6, Label12}}, columns, pn_1), 1,
      0);
  groups->addWidget(
      Group(kNew, {{kSlope, Edit1, nullptr}, {kOffset, Edit2, Label15}}, columns, pn_1), 1, 1);
  Predicted1 = ValuePanel(pn_1, "Predicted1", QString::fromUtf8(kSpokenPredicted1));
  Predicted2 = ValuePanel(pn_1, "Predicted2", QString::fromUtf8(kSpokenPredicted2));
  PredictedUnit1 = MakeLabel(pn_1, "PredictedUnit1");
  PredictedUnit2 = MakeLabel(pn_1, "PredictedUnit2");
  groups->addWidget(
      Group(kPredicted,
            {{kAtFirst, Predicted1, PredictedUnit1}, {kAtSecond, Predicted2, PredictedUnit2}},
            columns, pn_1),
      2, 1);

  std::tie(BitBtn1, BitBtn2) = MakeWriteCancelButtons(pn_1, "BitBtn1", "BitBtn2");
  auto* layout = new QVBoxLayout(pn_1);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(groups);
  layout->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kRight));

  SetTabOrder({Edit1, Edit2, BitBtn1, BitBtn2});
}

void TFormCorrect_Set::BuildSecondPanel() {
  pn_2 = MakePanel(this, "pn_2");
  Panel8 = ValuePanel(pn_2, "Panel8", QString::fromUtf8(kSpokenApplied1));
  Panel7 = ValuePanel(pn_2, "Panel7", InKpa(kSpokenApplied1));
  Panel9 = ValuePanel(pn_2, "Panel9", QString::fromUtf8(kSpokenReceived1));
  Panel14 = ValuePanel(pn_2, "Panel14", InKpa(kSpokenReceived1));
  Panel10 = ValuePanel(pn_2, "Panel10", QString::fromUtf8(kSpokenApplied2));
  Panel15 = ValuePanel(pn_2, "Panel15", InKpa(kSpokenApplied2));
  Panel11 = ValuePanel(pn_2, "Panel11", QString::fromUtf8(kSpokenReceived2));
  Panel16 = ValuePanel(pn_2, "Panel16", InKpa(kSpokenReceived2));
  Panel12 = ValuePanel(pn_2, "Panel12", QString::fromUtf8(kSpokenSlope));
  Panel13 = ValuePanel(pn_2, "Panel13", QString::fromUtf8(kSpokenOffset));
  Panel17 = ValuePanel(pn_2, "Panel17", InKpa(kSpokenOffset));
  Edit3 = ValueEdit(pn_2, "Edit3", QString::fromUtf8(kSpokenNewSlope));
  Edit4 = ValueEdit(pn_2, "Edit4", QString::fromUtf8(kSpokenNewOffset));
  Edit5 = ValueEdit(pn_2, "Edit5", InKpa(kSpokenNewOffset));
  for (const Caption& unit : {Caption{Label17, "Label17", {}}, Caption{Label18, "Label18", {}},
                              Caption{Label21, "Label21", {}}, Caption{Label22, "Label22", {}},
                              Caption{Label25, "Label25", {}}, Caption{Label28, "Label28", {}}})
    unit.label = MakeLabel(pn_2, unit.name);

  Label16 = MakeLabel(pn_2, "Label16", QStringLiteral("Давач передає дані в кПА"));
  Label16->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  const Columns columns = MeasureColumns(this);
  auto* layout = new QVBoxLayout(pn_2);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Label16);
  layout->addWidget(Group(
      kFirstPoint, {{kApplied, Panel8, Label17, Panel7}, {kReceived, Panel9, Label18, Panel14}},
      columns, pn_2));
  layout->addWidget(Group(
      kSecondPoint, {{kApplied, Panel10, Label21, Panel15}, {kReceived, Panel11, Label22, Panel16}},
      columns, pn_2));
  layout->addWidget(Group(
      kCurrent, {{kSlope, Panel12, nullptr}, {kOffset, Panel13, Label25, Panel17}}, columns, pn_2));
  layout->addWidget(
      Group(kNew, {{kSlope, Edit3, nullptr}, {kOffset, Edit4, Label28, Edit5}}, columns, pn_2));
  Predicted3 = ValuePanel(pn_2, "Predicted3", QString::fromUtf8(kSpokenPredicted1));
  Predicted4 = ValuePanel(pn_2, "Predicted4", QString::fromUtf8(kSpokenPredicted2));
  PredictedUnit3 = MakeLabel(pn_2, "PredictedUnit3");
  PredictedUnit4 = MakeLabel(pn_2, "PredictedUnit4");
  layout->addWidget(Group(
      kPredicted, {{kAtFirst, Predicted3, PredictedUnit3}, {kAtSecond, Predicted4, PredictedUnit4}},
      columns, pn_2));

  std::tie(BitBtn4, BitBtn3) = MakeWriteCancelButtons(pn_2, "BitBtn4", "BitBtn3");
  layout->addLayout(MakeButtonRow({BitBtn4, BitBtn3}, ButtonsAt::kRight));

  SetTabOrder({Edit3, Edit4, Edit5, BitBtn4, BitBtn3});
}

void TFormCorrect_Set::showEvent(QShowEvent* event) {
  if (!std::exchange(shown_, true))
    FormShow();
  QDialog::showEvent(event);
}

void TFormCorrect_Set::FormShow() {
  if (record == nullptr)
    return;
  const float s0 = state_.SensorSlope;
  const float o0 = state_.SensorOffset;
  const double f = record->factor;
  const NewCalibration calibration = ComputeNewCalibration(*record, s0, o0);
  record->slope = calibration.slope;
  record->offset = calibration.offset;

  const int unit_index = state_.ConnectSettings.P_unit;
  second_panel_ = state_.Channel == 0 && ListedPressureUnit(unit_index) != kKilopascalUnit;
  pn_1->setVisible(!second_panel_);
  pn_2->setVisible(second_panel_);
  layout()->activate();  // sized to the panel now, before the window appears
  const int digits = record->digits;

  const QString unit = QString::fromStdString(ChannelUnitName(state_.Channel, unit_index));
  if (!second_panel_) {
    for (QLabel* label :
         {Label3, Label4, Label7, Label8, Label12, Label15, PredictedUnit1, PredictedUnit2})
      label->setText(unit);
    Panel1->setText(Fixed(record->applied[0], digits));
    Panel2->setText(Fixed(record->received[0], digits));
    Panel3->setText(Fixed(record->applied[1], digits));
    Panel4->setText(Fixed(record->received[1], digits));
    Panel5->setText(Fixed(s0, kCalibrationDecimals));
    Panel6->setText(Fixed(o0, kCalibrationDecimals));
    Edit1->setText(Fixed(calibration.slope, kCalibrationDecimals));
    Edit2->setText(Fixed(calibration.offset, kCalibrationDecimals));
    UpdatePredicted();
    Edit1->setFocus();
    return;
  }

  for (QLabel* label :
       {Label17, Label18, Label21, Label22, Label25, Label28, PredictedUnit3, PredictedUnit4})
    label->setText(unit);
  const struct {
    float value;
    QLabel* display;
    QLabel* kpa;
  } points[] = {
      {record->applied[0], Panel8, Panel7},
      {record->received[0], Panel9, Panel14},
      {record->applied[1], Panel10, Panel15},
      {record->received[1], Panel11, Panel16},
  };
  for (const auto& point : points) {
    point.display->setText(Fixed(point.value, digits));
    point.kpa->setText(Fixed(ToSensorUnit(point.value, f), digits));
  }
  Panel12->setText(Fixed(s0, kCalibrationDecimals));
  Panel17->setText(Fixed(o0, kCalibrationDecimals));
  Panel13->setText(Fixed(static_cast<double>(o0) * f, kCalibrationDecimals));
  Edit3->setText(Fixed(calibration.slope, kCalibrationDecimals));
  // Each of these runs the other edit's update as well.
  Edit4->setText(Fixed(calibration.offset, kCalibrationDecimals));
  Edit5->setText(Fixed(static_cast<double>(calibration.offset) / f, kCalibrationDecimals));
  UpdatePredicted();
  Edit3->setFocus();
}

void TFormCorrect_Set::Follow(const QLineEdit* from, QLineEdit* to, bool to_sensor_unit) {
  if (record == nullptr || follow_depth_ >= kMaxFollowDepth)
    return;
  const QString text = from->text();
  if (text.isEmpty()) {
    ++follow_depth_;
    to->setText(QString());
    --follow_depth_;
    return;
  }
  // A number still being typed ("-", "1e", "2.5e-") is no number yet: the other edit waits
  // for it rather than interrupting the typing with an error.
  const std::optional<double> number = ParseFloat(text.toStdString());
  if (!number)
    return;
  const double value = ToFloat32(*number);
  const double converted = to_sensor_unit ? value / record->factor : value * record->factor;
  ++follow_depth_;
  to->setText(Fixed(converted, kCalibrationDecimals));
  --follow_depth_;
}

void TFormCorrect_Set::UpdatePredicted() {
  if (record == nullptr || !shown_)
    return;
  // The slope and the offset in the sensor's unit: what would be written.
  const std::optional<double> slope =
      ParseFloat((second_panel_ ? Edit3 : Edit1)->text().toStdString());
  const std::optional<double> offset =
      ParseFloat((second_panel_ ? Edit5 : Edit2)->text().toStdString());
  QLabel* first = second_panel_ ? Predicted3 : Predicted1;
  QLabel* second = second_panel_ ? Predicted4 : Predicted2;
  if (!slope || !offset) {
    first->setText(QStringLiteral("—"));
    second->setText(QStringLiteral("—"));
    return;
  }
  const std::array<double, 2> predicted = PredictedReadings(
      *record, state_.SensorSlope, state_.SensorOffset, ToFloat32(*slope), ToFloat32(*offset));
  first->setText(Fixed(predicted[0], record->digits));
  second->setText(Fixed(predicted[1], record->digits));
}

bool TFormCorrect_Set::ConfirmedIfDoubtful(float slope, float offset) {
  const std::vector<std::string> doubts =
      CalibrationDoubts(*record, slope, offset, LoadCalibrationLimits(state_.IniPath));
  if (doubts.empty())
    return true;
  std::string joined;
  for (const std::string& doubt : doubts)
    joined += (joined.empty() ? "" : "; ") + doubt;
  return state_.ui->AskCautiously(kDoubtful, joined, std::string(kWriteAnyway));
}

void TFormCorrect_Set::Edit4Change() {
  Follow(Edit4, Edit5, true);
}

void TFormCorrect_Set::Edit5Change() {
  Follow(Edit5, Edit4, false);
}

void TFormCorrect_Set::BitBtn1Click() {
  if (record == nullptr)
    return;
  // The offset is taken in the sensor's unit; on the second panel Edit4 is only its view.
  QLineEdit* slope_edit = second_panel_ ? Edit3 : Edit1;
  QLineEdit* offset_edit = second_panel_ ? Edit5 : Edit2;
  if (slope_edit->text().isEmpty() || offset_edit->text().isEmpty()) {
    state_.ui->ShowMessage(kNotAllData, "");
    return;
  }
  const std::string slope_text = slope_edit->text().toStdString();
  const std::optional<double> slope_number = ReadCalibrationValue(slope_text);
  if (!slope_number) {
    state_.ui->ShowMessage(NotANumberMessage(slope_text), "");
    return;
  }
  const float slope = ToFloat32(*slope_number);
  if (slope == 0.0f) {
    state_.ui->ShowMessage(kZeroSlope, "");
    return;
  }
  // The offset in the display unit is what the engineer looks at; while it is no number, the
  // sensor-unit edit still holds an older value that nobody sees any more.
  if (second_panel_ && !ReadCalibrationValue(Edit4->text().toStdString())) {
    const std::string shown = Edit4->text().toStdString();
    state_.ui->ShowMessage(NotANumberMessage(shown) + "\r(поле \"" +
                               Edit4->accessibleName().toStdString() + ", " +
                               Label28->text().toStdString() + "\")",
                           "");
    return;
  }
  const std::string offset_text = offset_edit->text().toStdString();
  const std::optional<double> offset_number = ReadCalibrationValue(offset_text);
  if (!offset_number) {
    state_.ui->ShowMessage(NotANumberMessage(offset_text), "");
    return;
  }
  const float offset = ToFloat32(*offset_number);
  // The sensor would measure nothing but nonsense from then on.
  if (!IsWritableCalibration(offset, slope)) {
    state_.ui->ShowMessage(UnwritableValueMessage(std::isfinite(slope) ? offset_text : slope_text),
                           "");
    return;
  }
  if (!ConfirmedIfDoubtful(slope, offset))
    return;
  record->slope = slope;
  record->offset = offset;
  confirmed = true;
  accept();
}

void TFormCorrect_Set::BitBtn2Click() {
  reject();
}
