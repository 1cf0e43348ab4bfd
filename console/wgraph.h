// TStatGraph: the statistics graph of the main window's "Stats" page. It
// draws one statistics history as filled area graphs, one per series, on a
// white plot with a vertical scale, date and time labels under the plot and
// a legend, and redraws itself within a second when the history's picture
// changes. Drawing goes to the paint box's canvas in pixels of the control
// (the canvas records it; a front end replays it).
//
// Layout of a client area W x H: the plot's top lies 35 pixels down (the
// page's selection boxes sit above it). W > 250 and H > 150 give the full
// layout: margins 40 left, 30 right, 65 below with a legend (it fits when
// it is narrower than W and H > 225) or 35 without, and the scale and date
// labels. Smaller areas get margins of 5 and only the series.
#pragma once

#include <array>
#include <span>
#include <string>

#include "console/statshistory.h"
#include "platform/ui/canvas.h"
#include "platform/ui/timer.h"

class TStatGraph : public platform::ui::PaintBox {
 public:
  static constexpr int kMaxSeries = 4;

  // 105 x 105 pixels, no history, no refresh timer.
  TStatGraph(platform::ui::Component* owner, platform::ui::Control* parent, std::string name = {});

  // Attaches the history (not owned; nullptr detaches). With a history,
  // colours[i] and names[i] are taken for every i of colours (at most four;
  // names has at least as many). Then draws at once.
  void setstat(TStatHistory* history, std::span<const platform::ui::Color> colours,
               std::span<const std::string> names);
  // The refresh timer's handler: advances the attached history and draws
  // when its picture changed.
  void CheckPaint(platform::ui::Component& sender);

  TStatHistory* History() const { return history_; }
  // Made by the first drawing with a history; ticks every second from then.
  platform::ui::Timer* RefreshTimer() const { return refresh_timer_; }
  platform::ui::Color SeriesColor(int s) const { return colours_[static_cast<std::size_t>(s)]; }
  const std::string& SeriesName(int s) const { return names_[static_cast<std::size_t>(s)]; }

  // The width the legend needs in the canvas's current font.
  int LegendWidth() const;

 protected:
  void Paint() override;

 private:
  void DrawScaleLabels(int32_t low, int32_t high, const TStatRect& plot);
  void DrawDateLabels(const TStatRect& plot, platform::TDateTime first, platform::TDateTime last);
  void DrawLegend(const TStatRect& plot);

  TStatHistory* history_ = nullptr;
  platform::ui::Timer* refresh_timer_ = nullptr;
  std::array<platform::ui::Color, kMaxSeries> colours_{};
  std::array<std::string, kMaxSeries> names_;
  std::array<TStatPoint, kStatPolygonVertices> vertices_{};
};
