#include "app/StringGridView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace vestrel {
namespace {

QString FromText(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Multi-line texts keep CR LF in the grid; Qt shows lines split at LF alone.
QString WithQtLineBreaks(const std::string& text) {
  QString lines = FromText(text);
  lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return lines;
}

constexpr Qt::Alignment kCellAlignment = Qt::AlignLeft | Qt::AlignVCenter;

}  // namespace

// ---- StringGridModel ----

StringGridModel::StringGridModel(StringGrid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
  grid_.SetObserver([this](StringGrid::Change change, int col, int row) { OnGridChanged(change, col, row); });
}

StringGridModel::~StringGridModel() { grid_.SetObserver(nullptr); }

int StringGridModel::HeaderRows() const { return std::min(grid_.FixedRows(), 1); }

int StringGridModel::HeaderCols() const { return std::min(grid_.FixedCols(), 1); }

QModelIndex StringGridModel::IndexOfCell(int col, int row) const {
  return index(row - HeaderRows(), col - HeaderCols());
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(0, grid_.RowCount() - HeaderRows());
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(0, grid_.ColCount() - HeaderCols());
}

QString StringGridModel::OneLine(const std::string& text) {
  QString line = WithQtLineBreaks(text);
  while (line.endsWith(QLatin1Char('\n'))) line.chop(1);
  line.replace(QLatin1Char('\n'), QLatin1String(" | "));
  return line;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::string& text = grid_.Cell(GridCol(index), GridRow(index));
  switch (role) {
    case Qt::DisplayRole:
      return OneLine(text);
    case Qt::UserRole:
      return FromText(text);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(kCellAlignment);
    default:
      return {};
  }
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(kCellAlignment);
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (HeaderRows() == 0) return QString::number(section + HeaderCols());
    return OneLine(grid_.Cell(section + HeaderCols(), 0));
  }
  if (HeaderCols() == 0) return QString::number(section + HeaderRows());
  return OneLine(grid_.Cell(0, section + HeaderRows()));
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void StringGridModel::OnGridChanged(StringGrid::Change change, int col, int row) {
  switch (change) {
    case StringGrid::Change::Cell:
      if (row < HeaderRows() && col < HeaderCols()) return;  // the corner shows nothing
      if (row < HeaderRows()) {
        emit headerDataChanged(Qt::Horizontal, col - HeaderCols(), col - HeaderCols());
      } else if (col < HeaderCols()) {
        emit headerDataChanged(Qt::Vertical, row - HeaderRows(), row - HeaderRows());
      } else {
        const QModelIndex cell = IndexOfCell(col, row);
        emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::UserRole});
      }
      return;
    case StringGrid::Change::All:
      // Same shape, new texts: the current cell and the selection stay.
      if (rowCount() > 0 && columnCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole, Qt::UserRole});
      }
      if (columnCount() > 0) emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
      if (rowCount() > 0) emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
      return;
    case StringGrid::Change::Shape:
      if (col >= 0) {
        emit ColWidthChanged(col);
        return;
      }
      beginResetModel();
      endResetModel();
      return;
  }
}

// ---- StringGridView ----

StringGridView::StringGridView(int colCount, int rowCount, QWidget* parent)
    : QTableView(parent), grid_(colCount, rowCount, 1, 1), model_(new StringGridModel(grid_, this)) {
  setModel(model_);
  setItemDelegate(new StringGridDelegate(*this));
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setShowGrid(true);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  QHeaderView* columns = horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setHighlightSections(false);
  columns->setDefaultAlignment(kCellAlignment);
  columns->setMinimumSectionSize(4);
  columns->setStretchLastSection(false);
  QHeaderView* rows = verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setHighlightSections(false);
  rows->setDefaultAlignment(kCellAlignment);
  rows->setMinimumSectionSize(4);

  connect(model_, &QAbstractItemModel::modelReset, this, &StringGridView::ApplyShape);
  connect(model_, &StringGridModel::ColWidthChanged, this, &StringGridView::ApplyColWidth);
  connect(columns, &QHeaderView::sectionResized, this, &StringGridView::OnSectionResized);
  connect(this, &QAbstractItemView::clicked, this, &StringGridView::OnCellClicked);
  connect(this, &QAbstractItemView::doubleClicked, this, [this] { emit DblClick(); });
  ApplyShape();
}

StringGridView::~StringGridView() = default;

void StringGridView::ApplyShape() {
  const int rowHeight = grid_.DefaultRowHeight();
  horizontalHeader()->setVisible(model_->HeaderRows() > 0);
  verticalHeader()->setVisible(model_->HeaderCols() > 0);
  verticalHeader()->setDefaultSectionSize(rowHeight);
  horizontalHeader()->setFixedHeight(std::max(rowHeight, fontMetrics().height() + 4));
  for (int col = 0; col < grid_.ColCount(); ++col) ApplyColWidth(col);
}

void StringGridView::SetDefaultRowHeight(int height) {
  grid_.SetDefaultRowHeight(height);
  ApplyShape();
}

void StringGridView::ApplyColWidth(int col) {
  const int width = grid_.ColWidth(col);
  applyingWidths_ = true;
  if (col < model_->HeaderCols()) {
    verticalHeader()->setFixedWidth(width);
  } else if (col - model_->HeaderCols() < model_->columnCount()) {
    horizontalHeader()->resizeSection(col - model_->HeaderCols(), width);
  }
  applyingWidths_ = false;
}

void StringGridView::OnSectionResized(int section, int, int newSize) {
  // A width the user drags becomes the grid's own, as exports and later scans see it.
  if (applyingWidths_) return;
  applyingWidths_ = true;
  grid_.SetColWidth(section + model_->HeaderCols(), newSize);
  applyingWidths_ = false;
}

int StringGridView::Col() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? model_->GridCol(current) : grid_.FixedCols();
}

int StringGridView::Row() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? model_->GridRow(current) : grid_.FixedRows();
}

void StringGridView::SetCurrentCell(int col, int row) {
  const QModelIndex cell = model_->IndexOfCell(col, row);
  if (cell.isValid()) setCurrentIndex(cell);
}

void StringGridView::SetHint(const std::string& hint) {
  hint_ = hint;
  setToolTip(WithQtLineBreaks(hint));
}

QString StringGridView::DisplayedText(int col, int row) const {
  if (col < 0 || row < 0 || col >= grid_.ColCount() || row >= grid_.RowCount()) return {};
  const int headerRows = model_->HeaderRows();
  const int headerCols = model_->HeaderCols();
  if (row < headerRows && col < headerCols) return {};
  if (row < headerRows) return model_->headerData(col - headerCols, Qt::Horizontal, Qt::DisplayRole).toString();
  if (col < headerCols) return model_->headerData(row - headerRows, Qt::Vertical, Qt::DisplayRole).toString();
  return model_->data(model_->IndexOfCell(col, row), Qt::DisplayRole).toString();
}

QRect StringGridView::CellRect(int col, int row) const {
  const QModelIndex cell = model_->IndexOfCell(col, row);
  return cell.isValid() ? visualRect(cell) : QRect();
}

bool StringGridView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // One hint for the whole grid, as the click handlers set it.
    if (hint_.empty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), WithQtLineBreaks(hint_), viewport());
    }
    return true;
  }
  return QTableView::viewportEvent(event);
}

void StringGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (!current.isValid() || current == previous) return;
  currentChangedByPress_ = true;
  emit Click();
}

void StringGridView::mousePressEvent(QMouseEvent* event) {
  currentChangedByPress_ = false;
  QTableView::mousePressEvent(event);
}

void StringGridView::OnCellClicked() {
  // A click on a new cell was announced when it became current; a click on the
  // current cell is announced here.
  if (!currentChangedByPress_) emit Click();
  currentChangedByPress_ = false;
}

// ---- StringGridDelegate ----

StringGridDelegate::StringGridDelegate(StringGridView& view) : QStyledItemDelegate(&view), view_(view) {}

void StringGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const StringGridModel& model = view_.GridModel();
  const int col = model.GridCol(index);
  const int row = model.GridRow(index);
  const StringGrid& grid = view_.Grid();
  if (col < grid.FixedCols() || row < grid.FixedRows()) {
    // Fixed cells below the header row or right of the header column look like headers.
    painter->fillRect(option.rect, option.palette.button());
    painter->setPen(option.palette.buttonText().color());
    painter->drawText(option.rect.adjusted(3, 0, -2, 0), kCellAlignment, index.data(Qt::DisplayRole).toString());
  } else {
    QStyledItemDelegate::paint(painter, option, index);
  }
  if (!view_.DrawCell()) return;
  DrawCellState state;
  state.selected = option.state.testFlag(QStyle::State_Selected);
  state.focused = option.state.testFlag(QStyle::State_HasFocus);
  painter->save();
  painter->setFont(option.font);
  painter->setPen(option.palette.text().color());
  view_.DrawCell()(*painter, col, row, option.rect, state);
  painter->restore();
}

}  // namespace vestrel
