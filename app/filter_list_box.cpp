#include "app/filter_list_box.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

constexpr int kDragDistance = 4;

}  // namespace

TDragPanel::TDragPanel(QWidget* parent) : QLabel(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setAlignment(Qt::AlignCenter);
}

void TDragPanel::mousePressEvent(QMouseEvent* event) {
  pressed_ = true;
  press_position_ = event->position().toPoint();
}

void TDragPanel::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_ || event->buttons() == Qt::NoButton) return;
  if ((event->position().toPoint() - press_position_).manhattanLength() < kDragDistance) return;
  pressed_ = false;
  auto* data = new QMimeData;
  data->setData(kPanelMimeType, objectName().toUtf8());
  auto* drag = new QDrag(this);
  drag->setMimeData(data);
  drag->setPixmap(grab());
  drag->exec(Qt::CopyAction);
}

void TDragPanel::mouseReleaseEvent(QMouseEvent*) { pressed_ = false; }

TFilterListBox::TFilterListBox(QWidget* parent) : QListWidget(parent) {
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  entry_menu_ = new QMenu(this);
  entry_menu_->addAction(QStringLiteral("Remove"), this, [this] {
    if (menu_row_ >= 0 && menu_row_ < count()) emit RemoveRequested(menu_row_);
  });
  connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (!setting_checks_) emit EntryToggled(row(item));
  });
}

void TFilterListBox::ReplaceEntries(const QStringList& names) {
  setting_checks_ = true;
  clear();
  for (const QString& name : names) {
    auto* entry = new QListWidgetItem(name);
    entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
    entry->setCheckState(Qt::Unchecked);
    addItem(entry);
  }
  setting_checks_ = false;
}

void TFilterListBox::SetChecked(int row, bool checked) {
  QListWidgetItem* entry = item(row);
  if (entry == nullptr) return;
  setting_checks_ = true;
  entry->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  setting_checks_ = false;
}

bool TFilterListBox::IsChecked(int row) const {
  const QListWidgetItem* entry = item(row);
  return entry != nullptr && entry->checkState() == Qt::Checked;
}

void TFilterListBox::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void TFilterListBox::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void TFilterListBox::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  emit PanelDropped(QString::fromUtf8(event->mimeData()->data(kPanelMimeType)));
}

void TFilterListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QListWidget::mouseDoubleClickEvent(event);
  emit DoubleClicked();
}

void TFilterListBox::keyPressEvent(QKeyEvent* event) {
  const int selected = selectedItems().isEmpty() ? -1 : row(selectedItems().front());
  if (event->key() == Qt::Key_Delete && selected >= 0) {
    emit RemoveRequested(selected);
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

void TFilterListBox::contextMenuEvent(QContextMenuEvent* event) {
  QListWidgetItem* entry = itemAt(event->pos());
  if (entry == nullptr) return;
  setCurrentItem(entry);
  menu_row_ = row(entry);
  entry_menu_->popup(event->globalPos());
}
