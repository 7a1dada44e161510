// StringGridView: shows a StringGrid (the scans' plain result table) as a Qt table.
// The first fixed row becomes the column header and the first fixed column the row
// header, so both stay in place while the cells scroll; further fixed rows or columns
// are drawn in the header colour. Current cell, click, double-click and cell-painting
// hooks follow the grid's column/row addressing (row 0 = titles, column 0 = numbers).
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <string>

#include "util/StringGrid.h"

namespace vestrel {

// The Qt model over a StringGrid: grid cells behind the header row and column map to
// model indexes; the header row and column map to header data.
class StringGridModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit StringGridModel(StringGrid& grid, QObject* parent = nullptr);
  ~StringGridModel() override;

  StringGrid& Grid() const { return grid_; }
  // How many grid rows/columns are shown as the header (0 or 1).
  int HeaderRows() const;
  int HeaderCols() const;
  int GridRow(const QModelIndex& index) const { return index.row() + HeaderRows(); }
  int GridCol(const QModelIndex& index) const { return index.column() + HeaderCols(); }
  QModelIndex IndexOfCell(int col, int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The cell's text as one line: a cell holds one value per line (CR LF), the full
  // text is in the cell viewer and the hint.
  static QString OneLine(const std::string& text);

 signals:
  // A column width of the grid changed (the shape stays).
  void ColWidthChanged(int col);

 private:
  void OnGridChanged(StringGrid::Change change, int col, int row);

  StringGrid& grid_;
};

// What the cell-painting hook is told about the cell besides its place.
struct DrawCellState {
  bool selected = false;
  bool focused = false;
};
// Paints over a cell after the default drawing; the painter carries the grid's font.
using DrawCellHandler =
    std::function<void(QPainter& canvas, int col, int row, const QRect& rect, DrawCellState state)>;

class StringGridView final : public QTableView {
  Q_OBJECT

 public:
  // The view owns its grid; design sizes are the grid's counts.
  StringGridView(int colCount, int rowCount, QWidget* parent = nullptr);
  ~StringGridView() override;

  StringGrid& Grid() { return grid_; }
  const StringGrid& Grid() const { return grid_; }
  // The grid tells no one about its row height, so it is set here.
  void SetDefaultRowHeight(int height);

  // The current cell in grid addressing; (fixed cols, fixed rows) while none is chosen.
  int Col() const;
  int Row() const;
  void SetCurrentCell(int col, int row);

  // The grid's hint, shown as the tool tip over the whole grid. Lines are CR LF.
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);

  void SetDrawCellHandler(DrawCellHandler handler) { drawCell_ = std::move(handler); }
  const DrawCellHandler& DrawCell() const { return drawCell_; }

  // The text as the view shows it (headers included), and where a cell is drawn in the
  // viewport (an empty rect for header cells or cells outside the grid).
  QString DisplayedText(int col, int row) const;
  QRect CellRect(int col, int row) const;
  StringGridModel& GridModel() const { return *model_; }

 signals:
  // The user chose a cell (mouse or keyboard), or clicked the current one again.
  void Click();
  void DblClick();

 protected:
  bool viewportEvent(QEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void ApplyShape();
  void ApplyColWidth(int col);
  void OnSectionResized(int section, int oldSize, int newSize);
  void OnCellClicked();

  StringGrid grid_;
  StringGridModel* model_;
  std::string hint_;
  DrawCellHandler drawCell_;
  bool applyingWidths_ = false;
  bool currentChangedByPress_ = false;
};

// Draws fixed cells beyond the header in the header colour and runs the view's
// cell-painting hook after the default drawing.
class StringGridDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit StringGridDelegate(StringGridView& view);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  StringGridView& view_;
};

}  // namespace vestrel
