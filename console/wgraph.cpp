#include "console/wgraph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace ui = platform::ui;

namespace {

constexpr ui::Brush BrushOf(ui::Color color) { return ui::Brush{color, ui::BrushStyle::Solid}; }

// v with `decimals` decimals and "." for the point, right-aligned in five
// characters (a longer number takes more).
std::string ScaleText(double v, int decimals) {
  // Halves are rounded away from zero (60.5 gives 61), whatever their
  // binary form would make of them.
  const double unit = decimals == 1 ? 10.0 : 1.0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%5.*f", decimals, std::round(v * unit) / unit);
  return buf;
}

}  // namespace

TStatGraph::TStatGraph(ui::Component* owner, ui::Control* parent, std::string name)
    : ui::PaintBox(owner, parent, std::move(name)) {
  SetBounds(0, 0, 105, 105);
}

void TStatGraph::setstat(TStatHistory* history, std::span<const ui::Color> colours,
                         std::span<const std::string> names) {
  history_ = history;
  if (history_) {
    std::size_t n = std::min<std::size_t>({colours.size(), names.size(), kMaxSeries});
    for (std::size_t i = 0; i < n; ++i) {
      colours_[i] = colours[i];
      // Legend texts are short strings.
      names_[i] = names[i].substr(0, 255);
    }
  }
  Repaint();
}

void TStatGraph::CheckPaint(ui::Component&) {
  if (!history_) return;
  history_->Advance();
  if (history_->Changed) Repaint();
}

int TStatGraph::LegendWidth() const {
  if (!history_) return 0;
  const ui::Canvas& canvas = GetCanvas();
  int width = 0;
  for (int s = 0; s < std::min(history_->SeriesCount, kMaxSeries); ++s) width += canvas.TextWidth(SeriesName(s)) + 20;
  return width;
}

void TStatGraph::Paint() {
  ui::PaintBox::Paint();
  if (history_ && !refresh_timer_) {
    refresh_timer_ = new ui::Timer(this, "RefreshTimer");
    refresh_timer_->SetInterval(1000);
    refresh_timer_->SetOnTimer([this](ui::Component& sender) { CheckPaint(sender); });
  }
  ui::Canvas& canvas = GetCanvas();
  canvas.pen = ui::Pen{};
  const ui::Rect client = ClientRect();
  canvas.brush = BrushOf(ui::clBtnFace);
  canvas.FillRect(client);

  // Measured in the control's own font, as the canvas still has it.
  const bool legend_fits = LegendWidth() < client.Width() && client.Height() > 225;
  const bool full = client.Width() > 250 && client.Height() > 150;
  TStatRect plot{client.left, client.top + 35, client.right, client.bottom};
  if (full) {
    plot.Left += 40;
    plot.Right -= 30;
    plot.Bottom -= legend_fits ? 65 : 35;
  } else {
    plot.Left += 5;
    plot.Right -= 5;
    plot.Bottom -= 5;
  }
  canvas.brush = BrushOf(ui::clWhite);
  canvas.FillRect({plot.Left, plot.Top, plot.Right, plot.Bottom});
  canvas.Rectangle(plot.Left, plot.Top, plot.Right, plot.Bottom);

  if (!history_) return;
  TStatHistory& h = *history_;
  h.Advance();
  // A drawing already under way keeps the history.
  if (!h.Lock(true)) return;
  h.ScaleMax();
  if (full) {
    canvas.font = ui::Font{"Arial", 8, ui::clBlack};
    canvas.brush = BrushOf(ui::clBtnFace);
    DrawScaleLabels(0, RoundPixel(h.ScaleTop), plot);
    DrawDateLabels(plot, AddSecondsToTime(h.BucketSeconds, h.Start),
                   AddSecondsToTime(h.BucketCount * h.BucketSeconds, h.Start));
    if (legend_fits) DrawLegend(plot);
  }
  const std::size_t count = StatPolygonVertexCount(h.BucketCount);
  std::span<TStatPoint> vertices(vertices_.data(), count);
  for (int s = std::min(h.SeriesCount, kMaxSeries); s >= 1; --s) {
    h.BuildPolygon(vertices, s - 1, plot);
    canvas.brush = BrushOf(colours_[static_cast<std::size_t>(s - 1)]);
    std::vector<ui::Point> points;
    points.reserve(count);
    for (const TStatPoint& v : vertices) points.push_back({v.X, v.Y});
    canvas.Polygon(std::move(points));
  }
  h.Lock(false);
}

void TStatGraph::DrawScaleLabels(int32_t low, int32_t high, const TStatRect& plot) {
  ui::Canvas& canvas = GetCanvas();
  const int step = 2 * canvas.TextHeight(std::to_string(plot.Bottom));
  if (step <= 0) return;
  const int n = (plot.Bottom - plot.Top + 1) / step;
  const int decimals = n > high - low ? 1 : 0;
  for (int i = 0; i < n; ++i) {
    const int y = MapIntLinear(i, n - 1, plot.Bottom, plot.Top);
    if (i > 0 && i < n - 1) {
      canvas.MoveTo(plot.Left - 2, y);
      canvas.LineTo(plot.Left, y);
    }
    if (high > low) {
      std::string text = ScaleText(MapValueLinear(i, n - 1, low, high), decimals);
      canvas.TextOut(plot.Left - canvas.TextWidth(text) - 5, y - canvas.TextHeight(text) / 2, text);
    }
  }
}

void TStatGraph::DrawDateLabels(const TStatRect& plot, platform::TDateTime first, platform::TDateTime last) {
  ui::Canvas& canvas = GetCanvas();
  const int spacing = 3 * canvas.TextWidth(platform::FormatDateTime("t", 0));
  if (spacing <= 0) return;
  const int n = (2 * (plot.Right - plot.Left + 1)) / spacing;
  for (int i = 0; i < n; ++i) {
    const int x = MapIntLinear(i, n - 1, plot.Left, plot.Right);
    if (i > 0 && i < n - 1) {
      canvas.MoveTo(x, plot.Bottom);
      canvas.LineTo(x, plot.Bottom + 2);
    }
    if (last > first) {
      const platform::TDateTime t = MapDateLinear(i, n - 1, first, last);
      std::string day = platform::FormatDateTime("d-mmm", t);
      canvas.TextOut(x - canvas.TextWidth(day) / 2, plot.Bottom + 8, day);
      std::string time = platform::FormatDateTime("t", t);
      canvas.TextOut(x - canvas.TextWidth(time) / 2, plot.Bottom + 8 + canvas.TextHeight(time), time);
    }
  }
}

void TStatGraph::DrawLegend(const TStatRect& plot) {
  ui::Canvas& canvas = GetCanvas();
  int x = plot.Left + (plot.Right - plot.Left - (LegendWidth() + 40)) / 2;
  for (int s = 0; s < std::min(history_->SeriesCount, kMaxSeries); ++s) {
    const std::string& name = SeriesName(s);
    canvas.brush = BrushOf(colours_[static_cast<std::size_t>(s)]);
    canvas.Rectangle(x, plot.Bottom + 45, x + 15, plot.Bottom + 45 + canvas.TextHeight(name));
    canvas.brush = BrushOf(ui::clBtnFace);
    canvas.TextOut(x + 20, plot.Bottom + 45, name);
    x += canvas.TextWidth(name) + 40;
  }
}
