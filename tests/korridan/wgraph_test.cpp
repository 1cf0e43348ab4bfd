// The statistics graph by the calls its canvas records, in the headless
// font metrics (Arial 8: 6 pixels a character, 13 a line; System 10: 7 and
// 16).
#include "console/wgraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "platform/datetime.h"
#include "platform/ui/form.h"

namespace {

namespace ui = platform::ui;
using Op = ui::DrawCall::Op;

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetNow(platform::EncodeDateTime(2026, 3, 2, 10, 0, 0));
    form_ = std::make_unique<ui::Form>(nullptr, "GraphForm");
    form_->SetFont(ui::Font{"System", 10});
    graph_ = new TStatGraph(form_.get(), form_.get(), "StatGraph");
    history_.Init(60, 73, 2, false);  // a window from 10:00:00
    observer_ = ui::AddChangeObserver([this](ui::Component& c, std::string_view what) {
      if (&c == graph_ && what == "Paint") ++paints_;
    });
  }
  void TearDown() override {
    ui::RemoveChangeObserver(observer_);
    form_.reset();
    platform::ResetClock();
  }

  // Closed buckets 0 .. values.size() - 1 with these totals in series 0
  // (series 1 holds twice as much).
  void Fill(std::initializer_list<int32_t> values) {
    int j = 0;
    for (int32_t v : values) {
      history_.Values[0][j] = v;
      history_.Values[1][j] = 2 * v;
      ++j;
    }
    history_.OpenBucket = history_.ShownBuckets = j;
  }

  void Attach(int width, int height, std::vector<std::string> names = {"Known Users", "All Users"}) {
    graph_->SetBounds(0, 0, width, height);
    const ui::Color colours[] = {ui::clBlue, ui::clRed};
    graph_->setstat(&history_, colours, names);
  }

  const std::vector<ui::DrawCall>& Calls() const { return graph_->GetCanvas().Calls(); }
  std::vector<const ui::DrawCall*> Of(Op op) const {
    std::vector<const ui::DrawCall*> out;
    for (const ui::DrawCall& c : Calls())
      if (c.op == op) out.push_back(&c);
    return out;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const ui::DrawCall* c : Of(Op::TextOut)) out.push_back(c->text);
    return out;
  }
  bool HasText(const std::string& text) const {
    auto texts = Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  std::unique_ptr<ui::Form> form_;
  TStatGraph* graph_ = nullptr;
  TStatHistory history_;
  int observer_ = 0;
  int paints_ = 0;
};

TEST_F(GraphTest, LayoutFollowsTheClientSize) {
  struct Case {
    int w, h;
    ui::Rect plot;
    bool labels, legend;
  } cases[] = {
      {427, 300, {40, 35, 397, 235}, true, true},
      {427, 226, {40, 35, 397, 161}, true, true},
      {427, 225, {40, 35, 397, 190}, true, false},  // too low for a legend
      {251, 151, {40, 35, 221, 116}, true, false},
      {250, 300, {5, 35, 245, 295}, false, false},  // too narrow for labels
      {427, 150, {5, 35, 422, 145}, false, false},
  };
  Fill({1, 2, 3});
  for (const Case& c : cases) {
    Attach(c.w, c.h);
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    ASSERT_GE(Calls().size(), 3u);
    EXPECT_EQ(Calls()[0].op, Op::FillRect);
    EXPECT_EQ(Calls()[0].rect, (ui::Rect{0, 0, c.w, c.h}));
    EXPECT_EQ(Calls()[0].brush.color, ui::clBtnFace);
    EXPECT_EQ(Calls()[1].rect, c.plot);
    EXPECT_EQ(Calls()[1].brush.color, ui::clWhite);
    EXPECT_EQ(Calls()[2].op, Op::Rectangle);
    EXPECT_EQ(Calls()[2].rect, c.plot);
    EXPECT_EQ(!Texts().empty(), c.labels);
    EXPECT_EQ(HasText("Known Users"), c.legend);
    // The series, all red first, known blue on top, on 145 vertices.
    auto polygons = Of(Op::Polygon);
    ASSERT_EQ(polygons.size(), 2u);
    EXPECT_EQ(polygons[0]->brush.color, ui::clRed);
    EXPECT_EQ(polygons[1]->brush.color, ui::clBlue);
    EXPECT_EQ(polygons[1]->points.size(), 145u);
    EXPECT_EQ(polygons[1]->points[0], (ui::Point{c.plot.left, c.plot.bottom - 1}));
  }
}

TEST_F(GraphTest, AFullWindowDropsToTheBaselineUnderItsLastBucket) {
  // The console's 73 buckets and the largest window, 145 buckets, whose
  // outline needs two vertices more than its buckets.
  struct Case {
    int32_t buckets;
    std::size_t vertices;
  } cases[] = {{73, 145}, {144, 146}, {145, 147}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buckets);
    history_.Init(60, c.buckets, 2, false);
    for (int32_t j = 0; j < c.buckets; ++j) history_.Values[0][j] = history_.Values[1][j] = 5;
    history_.OpenBucket = history_.ShownBuckets = c.buckets;
    platform::AdvanceNow(60.0 * c.buckets);  // the open bucket lies past the window
    Attach(427, 300);  // plot 40,35 - 397,235
    for (const ui::DrawCall* p : Of(Op::Polygon)) {
      ASSERT_EQ(p->points.size(), c.vertices);
      EXPECT_EQ(p->points.front(), (ui::Point{40, 234}));
      const ui::Point last_bucket = p->points[static_cast<std::size_t>(c.buckets)];
      EXPECT_EQ(last_bucket.x, 395);
      EXPECT_LT(last_bucket.y, 234) << "the value stands above the baseline";
      // The outline drops from the last bucket to the baseline, then closes
      // along it.
      EXPECT_EQ(p->points[static_cast<std::size_t>(c.buckets) + 1], (ui::Point{395, 234}));
      EXPECT_EQ(p->points.back(), (ui::Point{395, 234}));
    }
  }
}

TEST_F(GraphTest, LegendThatIsAsWideAsTheClientIsLeftOut) {
  Fill({1});
  // Measured in the control's font: 2 x (29 x 7 + 20) = 446 pixels.
  std::vector<std::string> names = {std::string(29, 'k'), std::string(29, 'a')};
  Attach(447, 300, names);
  EXPECT_TRUE(HasText(names[0]));
  EXPECT_EQ(graph_->LegendWidth(), 2 * (29 * 6 + 20)) << "the canvas now has Arial 8";
  Attach(446, 300, names);
  EXPECT_FALSE(HasText(names[0]));
  // Boxes and names of the legend, centred under the plot.
  Attach(427, 300);
  auto boxes = Of(Op::Rectangle);
  ASSERT_EQ(boxes.size(), 3u);
  // x = 40 + (357 - ((11 * 6 + 20) + (9 * 6 + 20) + 40)) / 2 = 118.
  EXPECT_EQ(boxes[1]->rect, (ui::Rect{118, 280, 133, 293}));
  EXPECT_EQ(boxes[1]->brush.color, ui::clBlue);
  EXPECT_EQ(boxes[2]->rect, (ui::Rect{118 + 66 + 40, 280, 118 + 66 + 40 + 15, 293}));
  EXPECT_EQ(boxes[2]->brush.color, ui::clRed);
}

TEST_F(GraphTest, ScaleCarriesADecimalOnlyWhenRowsOutnumberUnits) {
  struct Case {
    int32_t data_max;
    std::vector<std::string> labels;
  } cases[] = {
      // 1.2 x 2 + 1 = 3.4, shown as 3 over seven rows: one decimal.
      {2, {"  0.0", "  0.5", "  1.0", "  1.5", "  2.0", "  2.5", "  3.0"}},
      // 1.2 x 100 + 1 = 121: whole numbers, halves rounded up (60.5).
      {100, {"    0", "   20", "   40", "   61", "   81", "  101", "  121"}},
      // 1.2 x 100000 + 1: a number longer than its field takes more.
      {100000, {"    0", "20000", "40000", "60001", "80001", "100001", "120001"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data_max);
    history_.Reset();
    // Series 1 holds twice as much: its maximum counts.
    Fill({c.data_max / 2});
    history_.Values[1][0] = c.data_max;
    Attach(427, 300);
    std::vector<std::string> scale;
    for (const ui::DrawCall* t : Of(Op::TextOut))
      if (t->rect.top < 235) scale.push_back(t->text);
    EXPECT_EQ(scale, c.labels);
  }
  // The bottom label sits on the baseline, each right-aligned 5 pixels
  // left of the plot: y = 235 - 13 / 2.
  const ui::DrawCall* bottom = Of(Op::TextOut)[0];
  EXPECT_EQ(bottom->rect.left, 40 - 5 * 6 - 5);
  EXPECT_EQ(bottom->rect.top, 235 - 6);
  EXPECT_EQ(bottom->font, (ui::Font{"Arial", 8, ui::clBlack}));
}

TEST_F(GraphTest, NoDataGivesTicksWithoutNumbersAndAFlatPicture) {
  Attach(427, 300);
  EXPECT_EQ(history_.ScaleTop, 0);
  // Seven rows: ticks for the five inner ones; dates: four columns, two
  // inner ticks.
  EXPECT_EQ(Of(Op::LineTo).size(), 5u + 2u);
  for (const ui::DrawCall* t : Of(Op::TextOut)) EXPECT_GE(t->rect.top, 235) << t->text;
  for (const ui::DrawCall* p : Of(Op::Polygon))
    for (const ui::Point& v : p->points) EXPECT_EQ(v, (ui::Point{40, 234}));
}

TEST_F(GraphTest, DateLabelsRunFromTheFirstBucketsEndToTheLastOnes) {
  Fill({1});
  Attach(427, 300);
  // Spacing 3 x "00:00:00" = 144 pixels: four columns at x 40, 159, 278, 397.
  std::vector<std::pair<std::string, ui::Point>> expected = {
      {"2-Mar", {40 - 15, 243}},   {"10:01:00", {40 - 24, 256}},  {"2-Mar", {159 - 15, 243}},
      {"10:25:00", {159 - 24, 256}}, {"2-Mar", {278 - 15, 243}}, {"10:49:00", {278 - 24, 256}},
      {"2-Mar", {397 - 15, 243}},  {"11:13:00", {397 - 24, 256}},
  };
  std::vector<std::pair<std::string, ui::Point>> dates;
  for (const ui::DrawCall* t : Of(Op::TextOut))
    if (t->rect.top >= 243 && t->rect.top < 280) dates.push_back({t->text, {t->rect.left, t->rect.top}});
  EXPECT_EQ(dates, expected);
  auto ticks = Of(Op::LineTo);
  ASSERT_GE(ticks.size(), 2u);
  EXPECT_EQ(ticks[ticks.size() - 2]->points, (std::vector<ui::Point>{{159, 235}, {159, 237}}));
  EXPECT_EQ(ticks.back()->points, (std::vector<ui::Point>{{278, 235}, {278, 237}}));
}

TEST_F(GraphTest, RepaintsFromItsTimerOnlyWhenThePictureChanged) {
  EXPECT_EQ(graph_->RefreshTimer(), nullptr);
  graph_->SetBounds(0, 0, 427, 300);
  graph_->setstat(&history_, {}, {});
  EXPECT_EQ(paints_, 1) << "attached with no colours, and drawn";
  ASSERT_NE(graph_->RefreshTimer(), nullptr);
  EXPECT_EQ(graph_->RefreshTimer()->Interval(), 1000u);
  graph_->CheckPaint(*graph_);
  EXPECT_EQ(paints_, 1);
  const int32_t sample[] = {0, 3};
  history_.AddSample(sample);
  platform::AdvanceNow(60);  // the bucket closes with data
  graph_->CheckPaint(*graph_);
  EXPECT_EQ(paints_, 2);
  graph_->CheckPaint(*graph_);
  EXPECT_EQ(paints_, 2);
  // A drawing while the history is locked stops after the frame.
  history_.Lock(true);
  graph_->Repaint();
  EXPECT_EQ(Calls().size(), 3u);
  history_.Lock(false);
  graph_->setstat(nullptr, {}, {});
  graph_->CheckPaint(*graph_);
  EXPECT_EQ(Calls().size(), 3u) << "background and empty frame";
}

TEST(GraphMaps, ClampedLinearMaps) {
  EXPECT_EQ(MapIntLinear(1, 3, 235, 35), 169);  // 235 + (-200 x 1) / 3, toward zero
  EXPECT_EQ(MapIntLinear(5, 3, 235, 35), 35);
  EXPECT_EQ(MapIntLinear(0, 0, 40, 397), 40);
  EXPECT_DOUBLE_EQ(MapValueLinear(1, 4, 0, 10), 2.5);
  EXPECT_DOUBLE_EQ(MapValueLinear(-1, 4, 0, 10), 0);
  EXPECT_DOUBLE_EQ(MapDateLinear(1, 2, 100, 101), 100.5);
}

}  // namespace
