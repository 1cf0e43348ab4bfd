#include "platform/ui/canvas.h"

#include <algorithm>

#include "platform/ui/input.h"

namespace platform::ui {
namespace {

FontMetrics& InstalledMetrics() {
  static FontMetrics metrics;
  return metrics;
}

}  // namespace

void SetFontMetrics(FontMetrics metrics) { InstalledMetrics() = std::move(metrics); }

TextSize HeadlessMeasureText(const Font& font, std::string_view text) {
  int size = std::max(1, font.size);
  int char_width = (2 * size + 2) / 3;
  int line_height = (4 * size + 2) / 3 + 2;
  return {static_cast<int>(text.size()) * char_width, line_height};
}

TextSize MeasureText(const Font& font, std::string_view text) {
  const FontMetrics& metrics = InstalledMetrics();
  return metrics ? metrics(font, text) : HeadlessMeasureText(font, text);
}

const char* OpName(DrawCall::Op op) {
  switch (op) {
    case DrawCall::Op::FillRect: return "FillRect";
    case DrawCall::Op::Rectangle: return "Rectangle";
    case DrawCall::Op::Polygon: return "Polygon";
    case DrawCall::Op::MoveTo: return "MoveTo";
    case DrawCall::Op::LineTo: return "LineTo";
    case DrawCall::Op::TextOut: return "TextOut";
  }
  return "?";
}

// ---------------------------------------------------------------------------

DrawCall& Canvas::Record(DrawCall::Op op) {
  DrawCall call;
  call.op = op;
  call.pen = pen;
  call.brush = brush;
  call.font = font;
  calls_.push_back(std::move(call));
  return calls_.back();
}

void Canvas::FillRect(const Rect& r) { Record(DrawCall::Op::FillRect).rect = r; }

void Canvas::Rectangle(int x1, int y1, int x2, int y2) {
  Record(DrawCall::Op::Rectangle).rect = {x1, y1, x2, y2};
}

void Canvas::Polygon(std::vector<Point> points) { Record(DrawCall::Op::Polygon).points = std::move(points); }

void Canvas::MoveTo(int x, int y) {
  DrawCall& call = Record(DrawCall::Op::MoveTo);
  call.points = {pen_pos_, {x, y}};
  pen_pos_ = {x, y};
}

void Canvas::LineTo(int x, int y) {
  DrawCall& call = Record(DrawCall::Op::LineTo);
  call.points = {pen_pos_, {x, y}};
  pen_pos_ = {x, y};
}

void Canvas::TextOut(int x, int y, std::string text) {
  TextSize size = MeasureText(font, text);
  DrawCall& call = Record(DrawCall::Op::TextOut);
  call.rect = {x, y, x + size.width, y + size.height};
  call.text = std::move(text);
  // The pen moves to the end of the text, as the text call leaves it.
  pen_pos_ = {x + size.width, y};
}

void Canvas::ClearCalls() { calls_.clear(); }

// ---------------------------------------------------------------------------

PaintBox::PaintBox(Component* owner, Control* parent, std::string name) : Control(owner, parent, std::move(name)) {}

void PaintBox::Repaint() {
  paint_pending_ = false;
  canvas_.ClearCalls();
  canvas_.font = GetFont();
  canvas_.brush = Brush{GetColor(), BrushStyle::Solid};
  Paint();
  Changed("Paint");
}

void PaintBox::Invalidate() {
  if (paint_pending_) return;
  paint_pending_ = PostInput(kUiPaint, *this);
}

void PaintBox::Paint() {
  if (OnPaint) OnPaint(*this);
}

void PaintBox::HandleInput(const Input& input) {
  // Painting is no user action: a disabled box or one under a modal form
  // paints too, a hidden one does not.
  if (input.message == kUiPaint) {
    paint_pending_ = false;
    if (Showing()) Repaint();
    return;
  }
  Control::HandleInput(input);
}

}  // namespace platform::ui
