#include "platform/ui/canvas.h"

#include <gtest/gtest.h>

#include "platform/ui/automation.h"
#include "platform/ui/form.h"
#include "ui_fixture.h"

namespace platform::ui {
namespace {

using namespace automation;
using Op = DrawCall::Op;

class CanvasTest : public testing::UiTest {};

TEST_F(CanvasTest, HeadlessMetricsAreFixedPerPointSize) {
  Font arial8{"Arial", 8, clBlack};
  EXPECT_EQ(MeasureText(arial8, "12.5").width, 4 * 6);
  EXPECT_EQ(MeasureText(arial8, "12.5").height, 13);
  Font system10;
  EXPECT_EQ(MeasureText(system10, "Hits").width, 4 * 7);
  EXPECT_EQ(MeasureText(system10, "").height, 16);
  EXPECT_EQ(MeasureText(system10, "").width, 0);
}

TEST_F(CanvasTest, InstalledMetricsReplaceTheFixedOnes) {
  SetFontMetrics([](const Font&, std::string_view text) { return TextSize{static_cast<int>(text.size()) * 10, 20}; });
  Canvas c;
  EXPECT_EQ(c.TextWidth("abc"), 30);
  EXPECT_EQ(c.TextHeight("abc"), 20);
  SetFontMetrics(nullptr);
  EXPECT_EQ(c.TextWidth("abc"), 21);
}

TEST_F(CanvasTest, EachCallIsRecordedWithThePenBrushAndFontInForce) {
  Canvas c;
  c.brush.color = clBtnFace;
  c.FillRect({0, 0, 105, 105});
  c.pen = Pen{clBlack, 1, PenStyle::Solid};
  c.brush.color = clWhite;
  c.Rectangle(5, 35, 100, 100);
  c.brush.color = clBlue;
  c.Polygon({{5, 99}, {10, 50}, {20, 99}});
  c.MoveTo(3, 60);
  c.LineTo(5, 60);
  c.font = Font{"Arial", 8, clBlack};
  c.brush.color = clBtnFace;
  c.TextOut(2, 40, "0.5");

  const auto& calls = c.Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[0].op, Op::FillRect);
  EXPECT_EQ(calls[0].rect, (Rect{0, 0, 105, 105}));
  EXPECT_EQ(calls[0].brush.color, clBtnFace);
  EXPECT_EQ(calls[1].op, Op::Rectangle);
  EXPECT_EQ(calls[1].rect, (Rect{5, 35, 100, 100}));
  EXPECT_EQ(calls[1].brush.color, clWhite);
  EXPECT_EQ(calls[2].op, Op::Polygon);
  EXPECT_EQ(calls[2].points, (std::vector<Point>{{5, 99}, {10, 50}, {20, 99}}));
  EXPECT_EQ(calls[2].brush.color, clBlue);
  EXPECT_EQ(calls[3].op, Op::MoveTo);
  EXPECT_EQ(calls[4].op, Op::LineTo);
  EXPECT_EQ(calls[4].points, (std::vector<Point>{{3, 60}, {5, 60}}));
  EXPECT_EQ(calls[5].op, Op::TextOut);
  EXPECT_EQ(calls[5].text, "0.5");
  EXPECT_EQ(calls[5].rect, (Rect{2, 40, 2 + 18, 40 + 13}));
  EXPECT_EQ(calls[5].font.name, "Arial");
  EXPECT_EQ(calls[5].brush.color, clBtnFace);
  EXPECT_STREQ(OpName(calls[5].op), "TextOut");
  EXPECT_EQ(c.PenPos(), (Point{20, 40}));
}

// A paint box whose drawing comes from an override, as a custom graph does.
class Graph : public PaintBox {
 public:
  using PaintBox::PaintBox;
  int paints = 0;

 protected:
  void Paint() override {
    ++paints;
    Canvas& c = GetCanvas();
    c.FillRect({0, 0, Width(), Height()});
    c.TextOut(0, 0, c.font.name);
  }
};

TEST_F(CanvasTest, RepaintStartsAFreshDrawingWithTheControlsFontAndColour) {
  Form form(nullptr, "F");
  form.SetFont({"System", 10});
  Graph* g = new Graph(&form, &form, "StatGraph");
  g->SetBounds(0, 0, 105, 105);
  int announced = 0;
  int id = AddChangeObserver([&](Component& c, std::string_view what) {
    if (&c == g && what == "Paint") ++announced;
  });
  g->Repaint();
  g->Repaint();
  ASSERT_EQ(g->GetCanvas().Calls().size(), 2u);
  EXPECT_EQ(g->GetCanvas().Calls()[0].brush.color, clBtnFace);
  EXPECT_EQ(g->GetCanvas().Calls()[1].text, "System");
  EXPECT_EQ(announced, 2);
  RemoveChangeObserver(id);
}

TEST_F(CanvasTest, InvalidatePaintsOnceThroughTheLoopAlsoWhenDisabled) {
  Form form(nullptr, "F");
  Graph* g = new Graph(&form, &form, "StatGraph");
  g->Invalidate();  // hidden: the paint is dropped
  Pump();
  EXPECT_EQ(g->paints, 0);
  form.Show();
  g->SetEnabled(false);
  g->Invalidate();
  g->Invalidate();
  EXPECT_EQ(g->paints, 0);
  Pump();
  EXPECT_EQ(g->paints, 1);
  PostPaint(*g);  // an exposure
  Pump();
  EXPECT_EQ(g->paints, 2);
}

TEST_F(CanvasTest, OnPaintDrawsAPlainPaintBox) {
  Form form(nullptr, "F");
  PaintBox* box = new PaintBox(&form, &form, "Box");
  box->OnPaint = [&](Component&) { box->GetCanvas().Rectangle(0, 0, 10, 10); };
  box->Repaint();
  ASSERT_EQ(box->GetCanvas().Calls().size(), 1u);
  EXPECT_EQ(box->GetCanvas().Calls()[0].op, Op::Rectangle);
}

}  // namespace
}  // namespace platform::ui
