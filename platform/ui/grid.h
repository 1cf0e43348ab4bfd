// The string grid: rows and columns of texts, fixed (title) rows and
// columns, column widths and row heights, the selected cell or row.
#pragma once

#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/ui/component.h"

namespace platform::ui {

// Grid options, or-ed together.
enum GridOption : unsigned {
  goFixedVertLine = 1u << 0,
  goFixedHorzLine = 1u << 1,
  goVertLine = 1u << 2,
  goHorzLine = 1u << 3,
  goRangeSelect = 1u << 4,
  goRowSelect = 1u << 5,
  goColSizing = 1u << 6,
  goColMoving = 1u << 7,
  goEditing = 1u << 8,
};

class HALV_EXPORT StringGrid : public Control {
 public:
  StringGrid(Component* owner, Control* parent, std::string name = {});

  int ColCount() const { return cols_; }
  int RowCount() const { return rows_; }
  // Growing keeps the cells; shrinking drops those outside. At least one
  // row and column remain, and the fixed ones stay fewer than them.
  void SetColCount(int n);
  void SetRowCount(int n);
  int FixedCols() const { return fixed_cols_; }
  int FixedRows() const { return fixed_rows_; }
  void SetFixedCols(int n);
  void SetFixedRows(int n);

  // "" outside the grid; a write outside it is ignored.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);
  // A row's or column's texts.
  std::vector<std::string> RowTexts(int row) const;

  int DefaultColWidth() const { return default_col_width_; }
  int DefaultRowHeight() const { return default_row_height_; }
  // Resets every column width (row height) to the new default.
  void SetDefaultColWidth(int w);
  void SetDefaultRowHeight(int h);
  int ColWidth(int col) const;
  void SetColWidth(int col, int w);
  int RowHeight(int row) const;
  void SetRowHeight(int row, int h);
  int GridLineWidth() const { return line_width_; }
  void SetGridLineWidth(int w);

  unsigned Options() const { return options_; }
  void SetOptions(unsigned options) { options_ = options; }
  bool HasOption(GridOption o) const { return (options_ & o) != 0; }

  enum class Bars { None, Horizontal, Vertical, Both };
  Bars ScrollBarsShown() const { return scroll_bars_; }
  void SetScrollBars(Bars b) { scroll_bars_ = b; }

  // The selected cell (never a fixed one while there are others).
  int Col() const { return col_; }
  int Row() const { return row_; }
  void SetCol(int col);
  void SetRow(int row);

  // A cell's rectangle in the grid's coordinates (the grid does not
  // scroll in this model): columns and rows follow one another, each
  // followed by a grid line.
  Rect CellRect(int col, int row) const;

  bool TakesFocus() const override { return true; }
  // Whole non-fixed rows that fit beneath the fixed ones: what Page Up and
  // Page Down move by.
  int PageRows() const;

  // Before the user selects a cell: may refuse by clearing `allow`.
  std::function<void(Component& sender, int col, int row, bool& allow)> OnSelectCell;

 protected:
  void UserInput(const Input& input) override;
  void UserClick() override {}

 private:
  bool SelectByUser(int col, int row);
  bool UserKey(int key);
  void Resize(int cols, int rows);

  int cols_ = 5;
  int rows_ = 5;
  int fixed_cols_ = 1;
  int fixed_rows_ = 1;
  std::vector<std::vector<std::string>> cells_;  // [row][col]
  int default_col_width_ = 64;
  int default_row_height_ = 24;
  std::vector<int> col_widths_;
  std::vector<int> row_heights_;
  int line_width_ = 1;
  unsigned options_ = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect;
  Bars scroll_bars_ = Bars::Both;
  int col_ = 1;
  int row_ = 1;
};

}  // namespace platform::ui
