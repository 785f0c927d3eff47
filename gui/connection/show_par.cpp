#include "gui/connection/show_par.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <optional>
#include <string>
#include <tuple>

#include "core/calibration.h"
#include "core/number_format.h"
#include "gui/dialog_widgets.h"
#include "gui/key_filters.h"

TFormShow_Par* FormShow_Par = nullptr;

namespace {

constexpr int kMinInterval = 50;
constexpr int kMaxInterval = 5000;
constexpr int kMaxDecimals = 6;
constexpr int kButtonWidth = 100;

const char kIncomplete[] = "Уведені не всі параметри";
const char kIntervalOutOfRange[] = "Значення інтервалу запитів поза діапазону";

}  // namespace

TFormShow_Par::TFormShow_Par(AppState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      state_(state),
      variable_(FormShow_Par, this) {
  setObjectName(QStringLiteral("FormShow_Par"));
  setWindowTitle(QStringLiteral(" Умови показу даних"));
  setWindowModality(Qt::ApplicationModal);

  ComboBox1 = MakeList(this, "ComboBox1");
  Panel9 = MakeValuePanel(this, "Panel9", QString::fromUtf8(kTemperatureUnitName), 0);
  Panel9->setText(Panel9->accessibleName());
  ComboBox2 = MakeList(this, "ComboBox2");
  Edit1 = MakeEdit(this, "Edit1");
  InstallIntKeyFilter(Edit1);

  auto* grid = new QGridLayout;
  grid->setColumnStretch(0, 1);
  grid->setColumnMinimumWidth(1, 110);
  grid->setColumnMinimumWidth(2, 24);
  grid->setVerticalSpacing(8);
  AddFieldRow(grid, 0, ComboBox1,
              {{Label1, "Label1", QStringLiteral("&Одиниця виміру")},
               {Label2, "Label2", QStringLiteral("показу даних")}});
  // The unit list and the temperature unit share one place; only one of them is ever shown.
  grid->addWidget(Panel9, 0, 1);
  AddFieldRow(grid, 1, ComboBox2,
              {{Label3, "Label3", QStringLiteral("&Кількисть знаків показу")},
               {Label4, "Label4", QStringLiteral("значень параметру")}});
  // The lowest interval accepted is 50 ms all the same.
  AddFieldRow(grid, 2, Edit1,
              {{Label5, "Label5", QStringLiteral("&Інтервал часу між")},
               {Label6, "Label6", QStringLiteral("запитами (20...5000)")}},
              {Label7, "Label7", QStringLiteral("мс")});

  std::tie(BitBtn1, BitBtn2) = MakeAcceptCancelButtons(this, &TFormShow_Par::BitBtn1Click,
                                                       &TFormShow_Par::BitBtn2Click, kButtonWidth);

  auto* whole = new QVBoxLayout(this);
  whole->addLayout(grid);
  whole->addSpacing(8);
  whole->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kCentre));
  whole->setSizeConstraint(QLayout::SetFixedSize);

  SetTabOrder({ComboBox1, ComboBox2, Edit1, BitBtn1, BitBtn2});

  FormCreate();
}

void TFormShow_Par::FormCreate() {
  accepted = false;
  ComboBox1->clear();
  for (const PressureUnit& unit : PressureUnits)
    ComboBox1->addItem(QString::fromUtf8(unit.name));
  ComboBox2->clear();
  for (int decimals = 0; decimals <= kMaxDecimals; ++decimals)
    ComboBox2->addItem(QString::number(decimals));
}

void TFormShow_Par::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TFormShow_Par::FormShow() {
  const TConnectSettings& settings = state_.ConnectSettings;
  const bool pressure = state_.Channel == 0;
  if (pressure) {
    SelectEntry(ComboBox1, settings.P_unit);
    SelectEntry(ComboBox2, settings.P_format);
  } else {
    SelectEntry(ComboBox2, settings.T_format);
  }
  ComboBox1->setVisible(pressure);
  Panel9->setVisible(!pressure);
  Edit1->setText(QString::number(settings.interval));
  (pressure ? static_cast<QWidget*>(ComboBox1) : ComboBox2)->setFocus(Qt::OtherFocusReason);
}

void TFormShow_Par::BitBtn1Click() {
  const bool pressure = state_.Channel == 0;
  if ((pressure && ComboBox1->currentIndex() < 0) || ComboBox2->currentIndex() < 0 ||
      Edit1->text().isEmpty()) {
    state_.ui->ShowMessage(kIncomplete, "");
    return;
  }
  const std::string text = Edit1->text().toStdString();
  const std::optional<int32_t> interval = ParseInt32(text);
  if (!interval) {
    state_.ui->ShowMessage(NotANumberMessage(text), "");
    return;
  }
  if (*interval < kMinInterval || *interval > kMaxInterval) {
    state_.ui->ShowMessage(kIntervalOutOfRange, "");
    return;
  }
  TConnectSettings& settings = state_.ConnectSettings;
  settings.interval = static_cast<uint16_t>(*interval);
  if (pressure) {
    settings.P_unit = static_cast<uint8_t>(ComboBox1->currentIndex());
    settings.P_format = static_cast<uint8_t>(ComboBox2->currentIndex());
  } else {
    settings.T_format = static_cast<uint8_t>(ComboBox2->currentIndex());
  }
  accepted = true;
  accept();
}

void TFormShow_Par::BitBtn2Click() {
  reject();
}
