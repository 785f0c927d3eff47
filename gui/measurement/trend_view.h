#pragma once

#include <qcustomplot.h>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <vector>

#include "core/reading_series.h"

// A plot of values against time: a few named lines, optionally a shaded band, the time axis
// in seconds or minutes, and the value axis fitted to what is drawn with a margin.
class TrendView : public QCustomPlot {
  Q_OBJECT

 public:
  TrendView(QWidget* parent, const char* name, const QStringList& line_names, bool with_band);

  // Axis titles: the unit of the values, and whether time reads in minutes.
  void SetUnit(const QString& unit);
  void SetMinutes(bool minutes);
  bool minutes() const { return minutes_; }

  // Lines 0 and 1 from the reported and the factory value of each point (seconds, display
  // units), broken where readings were missed.
  void SetValueLines(const std::vector<SeriesPoint>& points);
  void SetBand(const QList<QPointF>& upper, const QList<QPointF>& lower);
  // A hidden line leaves the legend and the autoscale; the span shown last is fitted again.
  void ShowLine(int index, bool shown);
  // Shows the time from `from` to `to` seconds and fits the value axis to every shown line
  // and the band within it, then redraws.
  void ShowSpan(double from, double to);

  QCPGraph* line(int index) const { return lines_[static_cast<size_t>(index)]; }
  QCPAxis* time_axis() const { return xAxis; }
  QCPAxis* value_axis() const { return yAxis; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void UpdateTimeTitle();
  void Fill(QCPGraph* graph, const QList<QPointF>& points) const;
  void UpdateLegend();

  std::vector<QCPGraph*> lines_;
  QCPGraph* band_upper_ = nullptr;
  QCPGraph* band_lower_ = nullptr;
  QString unit_;
  bool minutes_ = false;
  double span_from_ = 0.0;
  double span_to_ = 0.0;
};

// The value range to show for values from `low` to `high`: a tenth of their spread added on
// each side, and never narrower than `least` (so a steady reading is not blown up into noise).
std::pair<double, double> PaddedRange(double low, double high, double least);
