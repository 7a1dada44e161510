// The scan commands of the main window: both scans fill their page's grid through the
// scan layer, report progress in the window and enable the page's export button; the
// partition grid paints the status cells of failing partitions red.
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <utility>

#include "app/TreeSelectorLock.h"
#include "app/Vestrel_main.h"
#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Session.h"
#include "util/D_Util.h"
#include "scan/Scans.h"

namespace vestrel {

namespace {

ScanProgress WindowProgress(TMainForm& form) {
  return [&form](int position, int total, const std::string& text) { form.StatusInfo(position, total, text); };
}

}  // namespace

void TMainForm::BitBtnSrvClick() { ScanClick(*BitBtnSrv, ScanServers, *StringGridSrv, *BitBtnExpSrv); }

void TMainForm::BitBtnPartClick() { ScanClick(*BitBtnPart, ScanPartitions, *StringGridPart, *BitBtnExpPart); }

void TMainForm::ScanClick(QPushButton& button, ScanFunction scan, StringGridView& grid, QPushButton& exportButton) {
  // A click that arrives while a scan pumps messages: the running scan's own button stops
  // it, any other is ignored.
  if (ScanInProgress()) {
    if (&button == stopButton_) RequestScanStop();
    return;
  }
  if (ScanRunning()) return;
  TreeSelectorLock lock(ComboBoxTrees);  // the remaining rows come from the same tree
  const QString caption = button.text();
  button.setText(QStringLiteral("Stop"));
  stopButton_ = &button;
  const ScanResult result =
      scan(MainContext, grid.Grid(), WindowProgress(*this), [&exportButton](bool hasRows) { exportButton.setEnabled(hasRows); });
  stopButton_ = nullptr;
  button.setText(caption);
  if (result.started) ShowScanOutcome(result);
  // A close that came during the scan stopped it; the window closes now, after its last read.
  if (std::exchange(closeAfterScan_, false)) close();
}

void TMainForm::ShowScanOutcome(const ScanResult& result) {
  // A scan that failed must not pass for a tree without objects, nor empty cells of reads
  // the link lost for values the tree does not have.
  const auto why = [this](NWRCODE code) {
    const std::string words = TreeLinkFailure(ComboBoxTrees->currentText().toStdString());
    return words.empty() ? ErrorText(code) : words;
  };
  std::string text;
  if (result.stopped) text = "Scan stopped";
  else if (result.searchCode != 0) text = "Search failed: " + why(result.searchCode);
  else if (result.lost.count > 0)
    text = Format("%d %s failed: %s", result.lost.count, result.lost.count == 1 ? "read" : "reads", why(result.lost.firstCode));
  if (!text.empty()) StatusBar1->SetPanelText(kProgressPanel, text);
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
