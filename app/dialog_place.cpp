#include "app/dialog_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "app/Unit2.h"

namespace {

QRect PulledOnto(QRect frame, const QRect& screen) {
  frame.moveLeft(
      std::clamp(frame.left(), screen.left(), std::max(screen.left(), screen.right() - frame.width() + 1)));
  frame.moveTop(
      std::clamp(frame.top(), screen.top(), std::max(screen.top(), screen.bottom() - frame.height() + 1)));
  return frame;
}

bool CoversAny(const QRect& frame, const std::vector<QRect>& keep_clear) {
  return std::any_of(keep_clear.begin(), keep_clear.end(),
                     [&](const QRect& area) { return frame.intersects(area); });
}

}  // namespace

QPoint PlaceOnScreen(QRect frame, QRect screen, const std::vector<QRect>& keep_clear) {
  frame = PulledOnto(frame, screen);
  if (!CoversAny(frame, keep_clear)) return frame.topLeft();
  // Each edge of a rectangle to clear is a place the frame may move to; the
  // nearest that clears everything and fits the screen wins.
  std::optional<QRect> best;
  const auto consider = [&](QRect moved) {
    if (!screen.contains(moved) || CoversAny(moved, keep_clear)) return;
    const int distance = std::abs(moved.left() - frame.left()) + std::abs(moved.top() - frame.top());
    if (!best || distance < std::abs(best->left() - frame.left()) + std::abs(best->top() - frame.top()))
      best = moved;
  };
  for (const QRect& area : keep_clear) {
    consider(frame.translated(area.right() + 1 - frame.left(), 0));
    consider(frame.translated(area.left() - 1 - frame.right(), 0));
    consider(frame.translated(0, area.bottom() + 1 - frame.top()));
    consider(frame.translated(0, area.top() - 1 - frame.bottom()));
  }
  return best ? best->topLeft() : frame.topLeft();
}

void PlaceDialog(QWidget* dialog) {
  if (dialog == nullptr) return;
  const QScreen* screen = dialog->screen() != nullptr ? dialog->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  std::vector<QRect> panes;
  if (Form2 != nullptr && Form2->isVisible()) {
    for (const TPane* pane : {Form2->PbGraf1, Form2->PbGraf2}) {
      panes.emplace_back(pane->mapToGlobal(QPoint(0, 0)), pane->size());
    }
  }
  // The frame (title bar and borders) counts once the window manager added
  // one; a window not shown yet grows to its layout's least size when shown.
  const QRect outer = dialog->frameGeometry();
  const QSize borders = outer.size() - dialog->size();
  const QRect frame(outer.topLeft(), dialog->size().expandedTo(dialog->minimumSizeHint()) + borders);
  const QPoint corner = PlaceOnScreen(frame, screen->availableGeometry(), panes);
  dialog->move(corner);
}
