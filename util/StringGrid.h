// StringGrid: the cells of a result table, addressed by column and row from 0.
// Row 0 holds the column titles and column 0 the row numbers. The scans fill it,
// the writers read it, and the window shows it through an observer.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vestrel {

class StringGrid {
 public:
  // What changed, for a view that shows the grid: Cell gives the cell's col and row;
  // Shape (counts, fixed parts, a column width) and All (every cell) give -1, -1, except
  // that a column width change gives its col.
  enum class Change { Cell, Shape, All };
  using Observer = std::function<void(Change change, int col, int row)>;

  StringGrid(int colCount = 5, int rowCount = 5, int fixedCols = 1, int fixedRows = 1);

  int ColCount() const { return colCount_; }
  int RowCount() const { return rowCount_; }
  int FixedCols() const { return fixedCols_; }
  int FixedRows() const { return fixedRows_; }
  // Keeps the cells that still fit; new cells are empty.
  void SetColCount(int count);
  void SetRowCount(int count);
  void SetFixedCols(int count);
  void SetFixedRows(int count);

  // Empty text outside the grid; writes outside the grid are ignored.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);
  // Every cell becomes empty; counts and fixed parts stay.
  void ClearCells();

  int ColWidth(int col) const;
  void SetColWidth(int col, int width);
  int DefaultColWidth() const { return defaultColWidth_; }
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(int height) { defaultRowHeight_ = height; }

  void SetObserver(Observer observer) { observer_ = std::move(observer); }

 private:
  void Notify(Change change, int col, int row) const;
  void Reshape(int colCount, int rowCount);

  int colCount_;
  int rowCount_;
  int fixedCols_;
  int fixedRows_;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  std::vector<std::string> cells_;  // row-major, rowCount_ x colCount_
  std::vector<int> colWidths_;
  Observer observer_;
};

}  // namespace vestrel
