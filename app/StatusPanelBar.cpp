#include "app/StatusPanelBar.h"

#include <QMouseEvent>

namespace vestrel {

StatusPanelBar::StatusPanelBar(QWidget* parent) : QStatusBar(parent) { setSizeGripEnabled(true); }

int StatusPanelBar::AddPanel(int width) {
  auto* panel = new QLabel(this);
  panel->setFixedWidth(width);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setContentsMargins(4, 0, 4, 0);
  panel->setTextFormat(Qt::PlainText);
  // A click on a panel belongs to the bar.
  panel->setAttribute(Qt::WA_TransparentForMouseEvents);
  addWidget(panel);
  panels_.push_back(panel);
  return PanelCount() - 1;
}

void StatusPanelBar::StretchPanel(int index) {
  QLabel* panel = Panel(index);
  const int width = panel->minimumWidth();
  removeWidget(panel);
  panel->setMinimumWidth(width);
  panel->setMaximumWidth(QWIDGETSIZE_MAX);
  insertWidget(index, panel, 1);
  panel->show();
}

std::string StatusPanelBar::PanelText(int index) const { return Panel(index)->text().toStdString(); }

void StatusPanelBar::SetPanelText(int index, const std::string& text) {
  Panel(index)->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void StatusPanelBar::mouseReleaseEvent(QMouseEvent* event) {
  QStatusBar::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit Clicked();
}

}  // namespace vestrel
