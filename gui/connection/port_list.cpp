#include "gui/connection/port_list.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <string>

#include "comm/comportfunctions.h"

namespace {

// Ports are looked for among these numbers.
constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;
constexpr int kPortRole = Qt::UserRole;
// The device a port number opens and the adapter's name, shown beside the number in the open
// list; the entry's own text stays "COMn", the number the settings keep.
constexpr int kPortDetailRole = Qt::UserRole + 1;

class PortItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString detail = index.data(kPortDetailRole).toString();
    if (!detail.isEmpty())
      option->text += QStringLiteral("  —  ") + detail;
  }
};

void AddPort(QComboBox* list, int n, QString detail) {
  list->addItem(QStringLiteral("COM%1").arg(n), n);
  list->setItemData(list->count() - 1, detail, Qt::ToolTipRole);
  list->setItemData(list->count() - 1, detail, kPortDetailRole);
}

}  // namespace

void MakePortList(QComboBox* list) {
  list->setItemDelegate(new PortItemDelegate(list));
}

void FillPortList(QComboBox* list, int selected, bool none_entry) {
  list->clear();
  int index = -1;
  if (none_entry) {
    list->addItem(QStringLiteral("немає"), 0);
    if (selected == 0)
      index = 0;
  }
  for (int n = kFirstPort; n <= kLastPort; ++n) {
    const bool chosen = n == selected;
    if (!ComPortExists(n)) {
      if (chosen && none_entry) {
        index = list->count();
        AddPort(list, n, QStringLiteral("пристрою зараз немає"));
      }
      continue;
    }
    QString detail = QString::fromStdString(ComPortDevicePath(n));
    if (const std::string adapter = ComPortAdapterName(n); !adapter.empty())
      detail += QStringLiteral(" (%1)").arg(QString::fromStdString(adapter));
    if (chosen)
      index = list->count();
    AddPort(list, n, detail);
  }
  if (index < 0 && list->count() > 0)
    index = 0;
  list->setCurrentIndex(index);
  FitPortListToEntries(list);
}

int SelectedPort(const QComboBox* list) {
  return list->currentIndex() < 0 ? 0 : list->currentData(kPortRole).toInt();
}

void FitPortListToEntries(QComboBox* list) {
  // The popup is as wide as the box unless told otherwise, and a device path with its adapter's
  // name would be cut short just where the two adapters differ.
  QAbstractItemView* view = list->view();
  const int widest = view->sizeHintForColumn(0);
  const int frame = 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width();
  view->setMinimumWidth(std::max(list->width(), widest + frame));
}
