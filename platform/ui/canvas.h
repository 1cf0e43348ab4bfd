// A canvas that records its drawing, and the paint box that owns one.
//
// Each drawing call is kept, with the pen, brush and font in force, in the
// control's pixel coordinates; a renderer replays the list, and tests read
// it. Text is measured by the font metrics installed (a renderer installs
// its own); the headless metrics are fixed, so layouts that depend on text
// sizes come out the same everywhere:
//   character width  = (2 * size + 2) / 3 pixels  (8 pt: 6, 10 pt: 7)
//   line height      = (4 * size + 2) / 3 + 2      (8 pt: 13, 10 pt: 16)
// for every font name, every character, bold or not.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"
#include "platform/ui/component.h"

namespace platform::ui {

enum class PenStyle { Solid, Dash, Dot, Clear };
enum class BrushStyle { Solid, Clear };

struct Pen {
  Color color = clBlack;
  int width = 1;
  PenStyle style = PenStyle::Solid;
  bool operator==(const Pen&) const = default;
};

struct Brush {
  Color color = clWhite;
  BrushStyle style = BrushStyle::Solid;
  bool operator==(const Brush&) const = default;
};

struct TextSize {
  int width = 0;
  int height = 0;
};

using FontMetrics = std::function<TextSize(const Font& font, std::string_view text)>;
// An empty function restores the fixed headless metrics.
HALV_EXPORT void SetFontMetrics(FontMetrics metrics);
HALV_EXPORT TextSize MeasureText(const Font& font, std::string_view text);
TextSize HeadlessMeasureText(const Font& font, std::string_view text);

struct DrawCall {
  enum class Op { FillRect, Rectangle, Polygon, MoveTo, LineTo, TextOut };
  Op op = Op::FillRect;
  Rect rect;                  // FillRect, Rectangle; TextOut: the text's box
  std::vector<Point> points;  // Polygon: the vertices; MoveTo/LineTo: from, to
  std::string text;           // TextOut
  Pen pen;
  Brush brush;
  Font font;
};

HALV_EXPORT const char* OpName(DrawCall::Op op);

class HALV_EXPORT Canvas {
 public:
  // Set them before drawing; each call records the state in force.
  Pen pen;
  Brush brush;
  Font font;

  // Fills with the brush, no outline.
  void FillRect(const Rect& r);
  // Outline with the pen, inside filled with the brush (right and bottom
  // exclusive).
  void Rectangle(int x1, int y1, int x2, int y2);
  // Filled with the brush (alternate rule) and outlined with the pen.
  void Polygon(std::vector<Point> points);
  void MoveTo(int x, int y);
  // A line from the pen position to (x, y), end point excluded; the pen
  // moves there.
  void LineTo(int x, int y);
  Point PenPos() const { return pen_pos_; }
  // Text with its top-left corner at (x, y); the brush is its background
  // (none with a clear brush).
  void TextOut(int x, int y, std::string text);
  int TextWidth(std::string_view text) const { return MeasureText(font, text).width; }
  int TextHeight(std::string_view text) const { return MeasureText(font, text).height; }

  const std::vector<DrawCall>& Calls() const { return calls_; }
  // Forgets the drawing (a new paint starts); the pen, brush and font stay.
  void ClearCalls();

 private:
  DrawCall& Record(DrawCall::Op op);

  std::vector<DrawCall> calls_;
  Point pen_pos_;
};

// A control that is painted by code: Paint (or OnPaint) draws on its canvas.
class HALV_EXPORT PaintBox : public Control {
 public:
  PaintBox(Component* owner, Control* parent, std::string name = {});

  Canvas& GetCanvas() { return canvas_; }
  const Canvas& GetCanvas() const { return canvas_; }

  // Paints now: the canvas forgets its old drawing and takes the control's
  // font and colour, Paint runs, and the observers hear "Paint".
  void Repaint();
  // Asks for a paint through the loop (one pending at most).
  void Invalidate();

  NotifyEvent OnPaint;

 protected:
  // The drawing; the default fires OnPaint.
  virtual void Paint();
  void HandleInput(const Input& input) override;

 private:
  Canvas canvas_;
  bool paint_pending_ = false;
};

}  // namespace platform::ui
