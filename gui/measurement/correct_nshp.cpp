#include "gui/measurement/correct_nshp.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <utility>

#include "core/app_state.h"
#include "core/calibration.h"
#include "core/number_format.h"
#include "gui/dialog_widgets.h"
#include "gui/key_filters.h"
#include "gui/measurement/ask_val.h"

TFormCorrect_NSHP* FormCorrect_NSHP = nullptr;

namespace {

const char kNotAllData[] = "Введені не всі дані для розрахунку";
const char kAppliedOrder[] = "В точці 1 подане значення параметру";
const char kReceivedOrder[] = "В точці 1 отримане значення параметру";
// The second half of both order messages stands in the box's title.
const char kOrderCaption[] = "має бути менше, ніж зачення у точці 2";

// Statistics collection for the point in `record.point`; true when its average was accepted.
bool RunStatisticsCollection(AppState& state, CalibrationRecord& record, QWidget* parent) {
  TFormAsk_Val dialog(state, parent);
  dialog.record = &record;
  dialog.exec();
  return dialog.accepted;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size())
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i])
      return false;
  }
  return true;
}

}  // namespace

std::optional<double> ReadCalibrationValue(std::string_view text) {
  if (const std::optional<double> value = ParseFloat(text))
    return value;
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (EqualsIgnoringCase(text, "inf") || EqualsIgnoringCase(text, "infinity")) {
    const double infinity = std::numeric_limits<double>::infinity();
    return negative ? -infinity : infinity;
  }
  if (EqualsIgnoringCase(text, "nan"))
    return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

std::string OutOfRangeMessage(std::string_view text) {
  return "Значення \"" + std::string(text) + "\" виходить за межі допустимого діапазону";
}

TFormCorrect_NSHP::TFormCorrect_NSHP(AppState& state, QWidget* parent)
    : QDialog(parent), state_(state), variable_(FormCorrect_NSHP, this) {
  setObjectName(QStringLiteral("FormCorrect_NSHP"));
  collect_statistics = [this](CalibrationRecord& calibration) {
    return RunStatisticsCollection(state_, calibration, this);
  };

  struct PointControls {
    QGroupBox*& group;
    const char* group_name;
    QString title;
    QString position;
    QLineEdit*& applied;
    const char* applied_name;
    QLineEdit*& received;
    const char* received_name;
    QLabel*& applied_unit;
    const char* applied_unit_name;
    QLabel*& received_unit;
    const char* received_unit_name;
    QPushButton*& statistics;
    const char* statistics_name;
    QPushButton*& clear;
    const char* clear_name;
  };
  PointControls points[] = {
      {GroupBox1, "GroupBox1", QStringLiteral(" Перша точка "),
       QStringLiteral("значення поблизу нижньої точки діапазону,"), Edit1, "Edit1", Edit3, "Edit3",
       Label3, "Label3", Label4, "Label4", BitBtn1, "BitBtn1", BitBtn5, "BitBtn5"},
      {GroupBox2, "GroupBox2", QStringLiteral(" Друга точка "),
       QStringLiteral("значення поблизу верхньої точки діапазону,"), Edit2, "Edit2", Edit4, "Edit4",
       Label5, "Label5", Label6, "Label6", BitBtn2, "BitBtn2", BitBtn6, "BitBtn6"},
  };

  auto* groups = new QHBoxLayout;
  for (PointControls& p : points) {
    p.group = MakeGroupBox(this, p.group_name, p.title);
    auto* grid = new QGridLayout(p.group);
    const QString lines[] = {
        QStringLiteral("Подайте на вхід  каналу"),
        p.position,
        QStringLiteral("введіть це значення і натисніть кнопку"),
        QStringLiteral("\"Набір статистики\","),
        QStringLiteral("або введіть потрібне значеняя"),
    };
    int row = 0;
    for (const QString& line : lines) {
      grid->addWidget(MakeLabel(p.group, nullptr, line), row++, 0, 1, 3);
    }
    grid->setRowMinimumHeight(row++, 8);

    const QString applied_caption = QStringLiteral("Подане значення");
    const QString received_caption = QStringLiteral("Отримане значення");
    const QString spoken = p.title.trimmed() + QStringLiteral(": ");
    p.applied = MakeValueEdit(p.group, p.applied_name, spoken + applied_caption);
    p.received = MakeValueEdit(p.group, p.received_name, spoken + received_caption);
    for (QLineEdit* edit : {p.applied, p.received}) {
      InstallFloatKeyFilter(edit);
      edit->setMinimumWidth(110);
    }
    p.applied_unit = MakeLabel(p.group, p.applied_unit_name);
    p.applied_unit->setMinimumWidth(70);
    p.received_unit = MakeLabel(p.group, p.received_unit_name);

    QLabel* applied_label = MakeLabel(p.group, nullptr, applied_caption);
    applied_label->setBuddy(p.applied);
    QLabel* received_label = MakeLabel(p.group, nullptr, received_caption);
    received_label->setBuddy(p.received);
    grid->addWidget(applied_label, row, 0);
    grid->addWidget(p.applied, row, 1);
    grid->addWidget(p.applied_unit, row++, 2);
    grid->addWidget(received_label, row, 0);
    grid->addWidget(p.received, row, 1);
    grid->addWidget(p.received_unit, row++, 2);
    grid->setRowMinimumHeight(row++, 8);

    p.statistics = MakeDialogButton(p.group, p.statistics_name, QStringLiteral("Набір статистики"),
                                    EnterKey::kWhenFocused);
    p.clear = MakeDialogButton(p.group, p.clear_name, QStringLiteral("Анулювати значення"),
                               EnterKey::kWhenFocused);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(p.statistics);
    buttons->addWidget(p.clear);
    grid->addLayout(buttons, row, 0, 1, 3);
    groups->addWidget(p.group);
  }

  BitBtn4 =
      MakeDialogButton(this, "BitBtn4", QStringLiteral("Виконати розрахунок"), EnterKey::kPresses);
  BitBtn7 = MakeDialogButton(this, "BitBtn7", QStringLiteral("Записати налаштування виробника"),
                             EnterKey::kWhenFocused);
  BitBtn3 = MakeDialogButton(this, "BitBtn3", QStringLiteral("Відмінити"), EnterKey::kWhenFocused);
  auto* commands = new QHBoxLayout;
  commands->addWidget(BitBtn4);
  commands->addWidget(BitBtn7);
  commands->addStretch(1);
  commands->addWidget(BitBtn3);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  layout->addSpacing(6);
  layout->addLayout(commands);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  SetTabOrder(
      {Edit1, Edit3, BitBtn1, BitBtn5, Edit2, Edit4, BitBtn2, BitBtn6, BitBtn4, BitBtn7, BitBtn3});

  connect(BitBtn1, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn2Click);
  connect(BitBtn3, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn3Click);
  connect(BitBtn4, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn4Click);
  connect(BitBtn5, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn5Click);
  connect(BitBtn6, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn6Click);
  connect(BitBtn7, &QPushButton::clicked, this, &TFormCorrect_NSHP::BitBtn7Click);
}

void TFormCorrect_NSHP::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Shown again when the results went unwritten: the points stay, the answer starts afresh.
  result = kCancelled;
  if (!std::exchange(shown_, true))
    FormShow();
}

void TFormCorrect_NSHP::keyPressEvent(QKeyEvent* event) {
  // A stray Esc must not throw away a collected point: it asks as "Відмінити" does, and a
  // point is cleared only by its own button.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    BitBtn3Click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TFormCorrect_NSHP::closeEvent(QCloseEvent* event) {
  // The close box abandons the calibration as "Відмінити" does, so it asks the same once there
  // is anything to lose; an empty window just closes.
  if (HoldsValues() && !ConfirmCancel()) {
    event->ignore();
    return;
  }
  result = kCancelled;
  QDialog::closeEvent(event);
}

bool TFormCorrect_NSHP::HoldsValues() const {
  for (const QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4}) {
    if (!edit->text().isEmpty())
      return true;
  }
  return false;
}

bool TFormCorrect_NSHP::HoldsCollected() const {
  const QLineEdit* received[2] = {Edit3, Edit4};
  for (size_t i = 0; i < 2; ++i) {
    if (!collected_[i].text.isEmpty() && received[i]->text() == collected_[i].text)
      return true;
  }
  return false;
}

bool TFormCorrect_NSHP::ConfirmCancel() {
  const std::string line1 = "Ви впевнені, що хочете";
  const std::string line2 = "відмінити калібровку?";
  // Minutes of holding a pressure on the sensor are not thrown away by a hasty Enter.
  if (HoldsCollected())
    return state_.ui->AskCautiously(line1, line2, std::nullopt);
  return state_.ui->AskQuestion(line1, line2, std::nullopt);
}

void TFormCorrect_NSHP::FormShow() {
  setWindowTitle(state_.Channel == 0
                     ? QStringLiteral("Калібровка каналу \"Тиск\" за двома точками")
                     : QStringLiteral("Калібровка каналу \"Температура\" за двома точками"));
  const QString unit =
      QString::fromStdString(ChannelUnitName(state_.Channel, state_.ConnectSettings.P_unit));
  for (QLabel* label : {Label3, Label4, Label5, Label6})
    label->setText(unit);
}

void TFormCorrect_NSHP::CollectStatistics(int point, QLineEdit* received_edit) {
  if (record == nullptr || !collect_statistics)
    return;
  record->point = static_cast<uint8_t>(point);
  const auto i = static_cast<size_t>(point);
  // A cancelled collection must not leave its zero count over a kept one.
  const int readings = record->readings[i];
  const float deviation = record->deviation[i];
  record->readings[i] = 0;
  record->deviation[i] = 0.0f;
  if (collect_statistics(*record)) {
    Collected& c = collected_[i];
    c.value = record->received[i];
    c.readings = record->readings[i];
    c.deviation = record->deviation[i];
    c.text = Fixed(c.value, record->digits);
    received_edit->setText(c.text);
    if (record->applied_readings[i] > 0) {
      Collected& r = referenced_[i];
      r.value = record->applied[i];
      r.readings = record->applied_readings[i];
      r.deviation = record->applied_deviation[i];
      r.text = Fixed(r.value, record->digits);
      (point == 0 ? Edit1 : Edit2)->setText(r.text);
    }
  } else {
    record->readings[i] = readings;
    record->deviation[i] = deviation;
  }
}

bool TFormCorrect_NSHP::ReceivedValue(int i, const QLineEdit* edit, float& value) {
  const Collected& c = collected_[i];
  if (!c.text.isEmpty() && edit->text() == c.text) {
    value = c.value;
    return true;
  }
  return ReadOne(edit, value);
}

void TFormCorrect_NSHP::BitBtn1Click() {
  CollectStatistics(0, Edit3);
}

void TFormCorrect_NSHP::BitBtn2Click() {
  CollectStatistics(1, Edit4);
}

void TFormCorrect_NSHP::BitBtn5Click() {
  Edit1->clear();
  Edit3->clear();
  collected_[0] = {};
  referenced_[0] = {};
}

void TFormCorrect_NSHP::BitBtn6Click() {
  Edit2->clear();
  Edit4->clear();
  collected_[1] = {};
  referenced_[1] = {};
}

void TFormCorrect_NSHP::BitBtn3Click() {
  if (!ConfirmCancel())
    return;
  result = kCancelled;
  reject();
}

void TFormCorrect_NSHP::BitBtn7Click() {
  if (record == nullptr)
    return;
  if (!state_.ui->AskQuestion("Ви впевнені, що хочете",
                              std::string("повернутися до налаштування виробника?"), std::nullopt))
    return;
  record->offset = 0.0f;
  record->slope = 1.0f;
  result = kFactorySetting;
  accept();
}

bool TFormCorrect_NSHP::ReadOne(const QLineEdit* edit, float& value) {
  const std::string text = edit->text().toStdString();
  const std::optional<double> number = ReadCalibrationValue(text);
  if (!number) {
    state_.ui->ShowMessage(NotANumberMessage(text), "");
    return false;
  }
  const float stored = ToFloat32(*number);
  // A point at infinity (or none at all) would make every later figure meaningless.
  if (!std::isfinite(stored)) {
    state_.ui->ShowMessage(OutOfRangeMessage(text), "");
    return false;
  }
  value = stored;
  return true;
}

bool TFormCorrect_NSHP::ReadPair(const QLineEdit* first, const QLineEdit* second, float& value1,
                                 float& value2) {
  float values[2];
  if (!ReadOne(first, values[0]) || !ReadOne(second, values[1]))
    return false;
  value1 = values[0];
  value2 = values[1];
  return true;
}

void TFormCorrect_NSHP::BitBtn4Click() {
  if (record == nullptr)
    return;
  if (Edit1->text().isEmpty() || Edit2->text().isEmpty() || Edit3->text().isEmpty() ||
      Edit4->text().isEmpty()) {
    state_.ui->ShowMessage(kNotAllData, "");
    return;
  }
  float applied1 = 0.0f;
  float applied2 = 0.0f;
  if (!ReadPair(Edit1, Edit2, applied1, applied2))
    return;
  const QLineEdit* applied_edits[2] = {Edit1, Edit2};
  float* applied[2] = {&applied1, &applied2};
  for (size_t i = 0; i < 2; ++i) {
    const Collected& r = referenced_[i];
    const bool read = !r.text.isEmpty() && applied_edits[i]->text() == r.text;
    if (read)
      *applied[i] = r.value;
    record->applied_readings[i] = read ? r.readings : 0;
    record->applied_deviation[i] = read ? r.deviation : 0.0f;
  }
  record->applied = {applied1, applied2};
  if (!(applied1 < applied2)) {
    state_.ui->ShowMessage(kAppliedOrder, kOrderCaption);
    return;
  }
  // A collected average enters as collected, not rounded to the decimals shown; a value the
  // engineer typed or changed enters as its text says.
  float received1 = 0.0f;
  float received2 = 0.0f;
  if (!ReceivedValue(0, Edit3, received1) || !ReceivedValue(1, Edit4, received2))
    return;
  record->received = {received1, received2};
  const QLineEdit* received_edits[2] = {Edit3, Edit4};
  for (size_t i = 0; i < 2; ++i) {
    const bool collected =
        !collected_[i].text.isEmpty() && received_edits[i]->text() == collected_[i].text;
    record->readings[i] = collected ? collected_[i].readings : 0;
    record->deviation[i] = collected ? collected_[i].deviation : 0.0f;
  }
  if (!(received1 < received2)) {
    state_.ui->ShowMessage(kReceivedOrder, kOrderCaption);
    return;
  }
  result = kPointsAccepted;
  accept();
}
