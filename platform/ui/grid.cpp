#include "platform/ui/grid.h"

#include <algorithm>

#include "platform/ui/input.h"

namespace platform::ui {

StringGrid::StringGrid(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {
  SetColor(clWindow);
  Resize(cols_, rows_);
}

void StringGrid::Resize(int cols, int rows) {
  cols_ = std::max(1, cols);
  rows_ = std::max(1, rows);
  cells_.resize(rows_);
  for (auto& row : cells_) row.resize(cols_);
  col_widths_.resize(cols_, default_col_width_);
  row_heights_.resize(rows_, default_row_height_);
  fixed_cols_ = std::min(fixed_cols_, cols_ - 1);
  fixed_rows_ = std::min(fixed_rows_, rows_ - 1);
  col_ = std::clamp(col_, fixed_cols_, cols_ - 1);
  row_ = std::clamp(row_, fixed_rows_, rows_ - 1);
  Changed("Cells");
}

void StringGrid::SetColCount(int n) { Resize(n, rows_); }
void StringGrid::SetRowCount(int n) { Resize(cols_, n); }

void StringGrid::SetFixedCols(int n) {
  fixed_cols_ = std::clamp(n, 0, cols_ - 1);
  col_ = std::max(col_, fixed_cols_);
  Changed("Fixed");
}

void StringGrid::SetFixedRows(int n) {
  fixed_rows_ = std::clamp(n, 0, rows_ - 1);
  row_ = std::max(row_, fixed_rows_);
  Changed("Fixed");
}

const std::string& StringGrid::Cell(int col, int row) const {
  static const std::string empty;
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return empty;
  return cells_[row][col];
}

void StringGrid::SetCell(int col, int row, std::string text) {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return;
  if (cells_[row][col] == text) return;
  cells_[row][col] = std::move(text);
  Changed("Cells");
}

std::vector<std::string> StringGrid::RowTexts(int row) const {
  if (row < 0 || row >= rows_) return {};
  return cells_[row];
}

void StringGrid::SetDefaultColWidth(int w) {
  default_col_width_ = std::max(0, w);
  std::fill(col_widths_.begin(), col_widths_.end(), default_col_width_);
  Changed("ColWidths");
}

void StringGrid::SetDefaultRowHeight(int h) {
  default_row_height_ = std::max(0, h);
  std::fill(row_heights_.begin(), row_heights_.end(), default_row_height_);
  Changed("RowHeights");
}

int StringGrid::ColWidth(int col) const { return col >= 0 && col < cols_ ? col_widths_[col] : 0; }

void StringGrid::SetColWidth(int col, int w) {
  if (col < 0 || col >= cols_) return;
  col_widths_[col] = std::max(0, w);
  Changed("ColWidths");
}

int StringGrid::RowHeight(int row) const { return row >= 0 && row < rows_ ? row_heights_[row] : 0; }

void StringGrid::SetRowHeight(int row, int h) {
  if (row < 0 || row >= rows_) return;
  row_heights_[row] = std::max(0, h);
  Changed("RowHeights");
}

void StringGrid::SetGridLineWidth(int w) {
  line_width_ = std::max(0, w);
  Changed("GridLineWidth");
}

void StringGrid::SetCol(int col) {
  col = std::clamp(col, fixed_cols_, cols_ - 1);
  if (col == col_) return;
  col_ = col;
  Changed("Selection");
}

void StringGrid::SetRow(int row) {
  row = std::clamp(row, fixed_rows_, rows_ - 1);
  if (row == row_) return;
  row_ = row;
  Changed("Selection");
}

Rect StringGrid::CellRect(int col, int row) const {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return {};
  int x = 0, y = 0;
  for (int c = 0; c < col; ++c) x += col_widths_[c] + line_width_;
  for (int r = 0; r < row; ++r) y += row_heights_[r] + line_width_;
  return {x, y, x + col_widths_[col], y + row_heights_[row]};
}

int StringGrid::PageRows() const {
  int room = ClientHeight();
  for (int r = 0; r < fixed_rows_; ++r) room -= row_heights_[r] + line_width_;
  int rows = 0;
  for (int r = fixed_rows_; r < rows_ && room >= row_heights_[r] + line_width_; ++r) {
    room -= row_heights_[r] + line_width_;
    ++rows;
  }
  return std::max(1, rows);
}

bool StringGrid::SelectByUser(int col, int row) {
  // Fixed cells cannot be selected; with row selection the column stays.
  if (col < fixed_cols_ || row < fixed_rows_ || col >= cols_ || row >= rows_) return false;
  bool allow = true;
  if (OnSelectCell) OnSelectCell(*this, col, row, allow);
  if (!allow) return false;
  if (!HasOption(goRowSelect)) SetCol(col);
  SetRow(row);
  return true;
}

void StringGrid::UserInput(const Input& input) {
  int col = PairLow(input.arg), row = PairHigh(input.arg);
  switch (input.message) {
    case kUiSelectCell:
      if (SelectByUser(col, row)) DoClick();
      return;
    case kUiDblClick:
      if (SelectByUser(col, row)) DoClick();
      DoDblClick();
      return;
    case kUiKey:
      if (!UserKey(static_cast<int>(input.arg))) Control::UserInput(input);
      return;
    default:
      Control::UserInput(input);
  }
}

// The platform's grid keyboard: the arrows move the selected cell (in a
// grid that selects rows, Left and Right only scroll, which the front end
// does), Page Up and Page Down by a page of rows, Home and End to the
// first and last row (column, without row selection), Ctrl+Home and
// Ctrl+End to the first and last cell (other Ctrl keys are not the
// grid's). The cell reached is selected as a click on it would be; a key
// that moves nothing runs no handler.
bool StringGrid::UserKey(int key) {
  bool ctrl = (key & kKeyCtrl) != 0;
  bool rows = HasOption(goRowSelect);
  int col = col_, row = row_;
  key &= ~kKeyCtrl;
  if (ctrl && key != kKeyHome && key != kKeyEnd) return false;
  switch (key) {
    case kKeyUp: --row; break;
    case kKeyDown: ++row; break;
    case kKeyLeft: --col; break;
    case kKeyRight: ++col; break;
    case kKeyPageUp: row -= PageRows(); break;
    case kKeyPageDown: row += PageRows(); break;
    case kKeyHome:
      col = fixed_cols_;
      if (ctrl || rows) row = fixed_rows_;
      break;
    case kKeyEnd:
      col = cols_ - 1;
      if (ctrl || rows) row = rows_ - 1;
      break;
    default: return false;
  }
  col = rows ? col_ : std::clamp(col, fixed_cols_, cols_ - 1);
  row = std::clamp(row, fixed_rows_, rows_ - 1);
  if ((col != col_ || row != row_) && SelectByUser(col, row)) DoClick();
  return true;
}

}  // namespace platform::ui
