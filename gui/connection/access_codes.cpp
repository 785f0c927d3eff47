#include "gui/connection/access_codes.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <tuple>

#include "comm/calcbox.h"
#include "comm/code_page.h"
#include "gui/dialog_widgets.h"

TFormAccessCodes::TFormAccessCodes(const AccessCodes& codes, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FormAccessCodes"));
  setWindowTitle(QStringLiteral("Помилковий пароль"));
  setWindowModality(Qt::ApplicationModal);

  Label1 = MakePlainLabel(this, "Label1", QStringLiteral("Пароль на &запис"));
  Label2 = MakePlainLabel(this, "Label2", QStringLiteral("Ко&д користувача"));
  Edit1 = MakePasswordEdit(this, "Edit1",
                           static_cast<int>(std::tuple_size_v<decltype(calcbox::write_password)>));
  Edit1->setText(codes.write_password);
  Edit2 = MakePasswordEdit(this, "Edit2",
                           static_cast<int>(std::tuple_size_v<decltype(calcbox::user_code)>));
  Edit2->setText(codes.user_code);
  Label1->setBuddy(Edit1);
  Label2->setBuddy(Edit2);
  Edit1->setAccessibleName(QStringLiteral("Пароль на запис"));
  Edit2->setAccessibleName(QStringLiteral("Код користувача"));
  Label1->setVisible(codes.with_write_password);
  Edit1->setVisible(codes.with_write_password);

  std::tie(BitBtn1, BitBtn2) = MakeAcceptCancelButtons(this, &QDialog::accept, &QDialog::reject);

  auto* fields = new QGridLayout;
  fields->addWidget(Label1, 0, 0);
  fields->addWidget(Edit1, 0, 1);
  fields->addWidget(Label2, 1, 0);
  fields->addWidget(Edit2, 1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePlainLabel(
      this, "Label3", QStringLiteral("Коректор не прийняв коди доступу.\nУведіть їх ще раз:")));
  layout->addLayout(fields);
  layout->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kRight));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  SetTabOrder({Edit1, Edit2, BitBtn1, BitBtn2});
  (codes.with_write_password ? Edit1 : Edit2)->setFocus();
}

AccessCodes TFormAccessCodes::Codes() const {
  return {Edit2->text(), Edit1->text(), Edit1->isVisibleTo(this)};
}

bool AskAccessCodes(AccessCodes& codes, QWidget* parent) {
  TFormAccessCodes dialog(codes, parent);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  codes = dialog.Codes();
  return true;
}

void PutAccessCodes(const AccessCodes& codes, calcbox& box) {
  FillPadded(box.user_code, codes.user_code);
  if (codes.with_write_password) {
    FillPadded(box.write_password, codes.write_password);
    Cp1251ToCp866(reinterpret_cast<char*>(box.write_password.data()),
                  static_cast<uint8_t>(box.write_password.size()));
  }
}
