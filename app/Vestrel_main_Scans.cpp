// The scan commands of the main window: both scans fill their page's grid through the
// scan layer, report progress in the window and enable the page's export button; the
// partition grid paints the status cells of failing partitions red.
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include "app/TreeSelectorLock.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW_Session.h"
#include "scan/Scans.h"

namespace vestrel {

namespace {

ScanProgress WindowProgress(TMainForm& form) {
  return [&form](int position, int total, const std::string& text) { form.StatusInfo(position, total, text); };
}

}  // namespace

void TMainForm::BitBtnSrvClick() {
  // A click that arrives while a scan pumps messages is ignored.
  if (ScanRunning()) return;
  TreeSelectorLock lock(ComboBoxTrees);  // the remaining rows come from the same tree
  ScanServers(MainContext, StringGridSrv->Grid(), WindowProgress(*this),
              [this](bool hasRows) { BitBtnExpSrv->setEnabled(hasRows); });
}

void TMainForm::BitBtnPartClick() {
  if (ScanRunning()) return;
  TreeSelectorLock lock(ComboBoxTrees);
  ScanPartitions(MainContext, StringGridPart->Grid(), WindowProgress(*this),
                 [this](bool hasRows) { BitBtnExpPart->setEnabled(hasRows); });
}

QFont FontFittingLine(const QFont& font, int height) {
  QFont fitting = font;
  int pixelSize = QFontInfo(font).pixelSize();
  while (QFontMetrics(fitting).height() > height && pixelSize > kSmallestFittingPixelSize) {
    fitting.setPixelSize(--pixelSize);
  }
  return fitting;
}

void TMainForm::StringGridPartDrawCell(QPainter& canvas, int col, int row, const QRect& rect, DrawCellState) {
  const std::string& text = StringGridPart->Grid().Cell(col, row);
  if (!IsFailingStatusCell(col, row, text)) return;
  canvas.save();
  canvas.setBrush(QColor(255, 0, 0));
  canvas.fillRect(rect, canvas.brush());
  // The text starts 2 pixels below the cell's top; a font whose line is taller than the
  // rest of the row would lose its lower part, so the text takes a size that fits.
  const QRect textRect = rect.adjusted(2, 2, 0, 0);
  canvas.setFont(FontFittingLine(canvas.font(), textRect.height()));
  canvas.drawText(textRect, Qt::AlignLeft | Qt::AlignTop, StringGridModel::OneLine(text));
  canvas.restore();
}

}  // namespace vestrel
