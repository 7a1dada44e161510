#include "util/StringGrid.h"

#include <algorithm>
#include <utility>

namespace vestrel {
namespace {

const std::string kNoText;

int NotNegative(int value) { return value < 0 ? 0 : value; }

}  // namespace

StringGrid::StringGrid(int colCount, int rowCount, int fixedCols, int fixedRows)
    : colCount_(NotNegative(colCount)),
      rowCount_(NotNegative(rowCount)),
      fixedCols_(std::clamp(fixedCols, 0, colCount_)),
      fixedRows_(std::clamp(fixedRows, 0, rowCount_)),
      cells_(static_cast<std::size_t>(colCount_) * static_cast<std::size_t>(rowCount_)),
      colWidths_(static_cast<std::size_t>(colCount_), defaultColWidth_) {}

void StringGrid::SetColCount(int count) { Reshape(NotNegative(count), rowCount_); }

void StringGrid::SetRowCount(int count) { Reshape(colCount_, NotNegative(count)); }

void StringGrid::SetFixedCols(int count) {
  fixedCols_ = std::clamp(count, 0, colCount_);
  Notify(Change::Shape, -1, -1);
}

void StringGrid::SetFixedRows(int count) {
  fixedRows_ = std::clamp(count, 0, rowCount_);
  Notify(Change::Shape, -1, -1);
}

void StringGrid::Reshape(int colCount, int rowCount) {
  if (colCount == colCount_ && rowCount == rowCount_) return;
  if (colCount == colCount_) {
    // Row-major storage: rows are added or dropped at the end.
    cells_.resize(static_cast<std::size_t>(colCount) * static_cast<std::size_t>(rowCount));
  } else {
    std::vector<std::string> cells(static_cast<std::size_t>(colCount) * static_cast<std::size_t>(rowCount));
    const int keptCols = std::min(colCount, colCount_);
    const int keptRows = std::min(rowCount, rowCount_);
    for (int row = 0; row < keptRows; ++row) {
      for (int col = 0; col < keptCols; ++col) {
        cells[static_cast<std::size_t>(row) * colCount + col] =
            std::move(cells_[static_cast<std::size_t>(row) * colCount_ + col]);
      }
    }
    cells_ = std::move(cells);
    colWidths_.resize(static_cast<std::size_t>(colCount), defaultColWidth_);
  }
  colCount_ = colCount;
  rowCount_ = rowCount;
  fixedCols_ = std::min(fixedCols_, colCount_);
  fixedRows_ = std::min(fixedRows_, rowCount_);
  Notify(Change::Shape, -1, -1);
}

const std::string& StringGrid::Cell(int col, int row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return kNoText;
  return cells_[static_cast<std::size_t>(row) * colCount_ + col];
}

void StringGrid::SetCell(int col, int row, std::string text) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return;
  cells_[static_cast<std::size_t>(row) * colCount_ + col] = std::move(text);
  Notify(Change::Cell, col, row);
}

void StringGrid::ClearCells() {
  for (std::string& cell : cells_) cell.clear();
  Notify(Change::All, -1, -1);
}

int StringGrid::ColWidth(int col) const {
  if (col < 0 || col >= colCount_) return defaultColWidth_;
  return colWidths_[static_cast<std::size_t>(col)];
}

void StringGrid::SetColWidth(int col, int width) {
  if (col < 0 || col >= colCount_) return;
  colWidths_[static_cast<std::size_t>(col)] = width;
  Notify(Change::Shape, col, -1);
}

void StringGrid::Notify(Change change, int col, int row) const {
  if (observer_) observer_(change, col, row);
}

}  // namespace vestrel
