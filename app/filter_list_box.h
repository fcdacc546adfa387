#pragma once

// The controls of the filter-chain editor: panels that can be dragged, and
// the check list they are dropped on.

#include <QLabel>
#include <QListWidget>
#include <QPoint>

class QMenu;

// The drag's data names the panel dragged.
inline constexpr char kPanelMimeType[] = "application/x-stereo-panel";

// A labelled panel that starts a drag of itself once the pointer has moved
// 4 pixels with a button held; a click without movement starts none.
class TDragPanel : public QLabel {
  Q_OBJECT

 public:
  explicit TDragPanel(QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
  QPoint press_position_;
};

// A check list that accepts whatever is dragged over it and tells which
// panel was dropped, which entry's box the user toggled, and double clicks.
class TFilterListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit TFilterListBox(QWidget* parent = nullptr);

  // New checkable entries, unticked, in place of the old ones.
  void ReplaceEntries(const QStringList& names);
  // Sets an entry's box without telling anyone: only the user toggles.
  void SetChecked(int row, bool checked);
  bool IsChecked(int row) const;
  // The entry's context menu, open while the user picks from it.
  QMenu* EntryMenu() const { return entry_menu_; }

 signals:
  // The name of the panel dropped; empty for anything else.
  void PanelDropped(const QString& panel);
  void EntryToggled(int row);
  void DoubleClicked();
  // Delete on the selected entry, or "Remove" of its context menu.
  void RemoveRequested(int row);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool setting_checks_ = false;
  QMenu* entry_menu_;
  // The entry the context menu was opened on.
  int menu_row_ = -1;
};
