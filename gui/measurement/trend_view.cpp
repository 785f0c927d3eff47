#include "gui/measurement/trend_view.h"

#include <QAreaSeries>
#include <QChart>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor kLineColours[] = {QColor(0, 90, 190), QColor(200, 90, 0), QColor(0, 140, 60)};

// A step of 1, 2 or 5 times a power of ten, near `rough`.
double NiceStep(double rough) {
  if (!(rough > 0.0))
    return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  const double mantissa = rough / power;
  const double nice = mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0;
  return nice * power;
}

// As many decimals as a tick step needs.
QString LabelFormat(double step) {
  const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 9);
  return QStringLiteral("%.") + QString::number(decimals) + QStringLiteral("f");
}

// Ticks on round values, about five over the axis, labelled with as many decimals as the
// step needs.
void RoundTicks(QValueAxis* axis, double low, double high) {
  const double step = NiceStep((high - low) / 5.0);
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(std::floor(low / step) * step);
  axis->setTickInterval(step);
  axis->setLabelFormat(LabelFormat(step));
}

}  // namespace

std::pair<double, double> PaddedRange(double low, double high, double least) {
  double margin = (high - low) * 0.1;
  const double centre = (low + high) / 2;
  if (high - low + 2 * margin < least) {
    low = centre - least / 2;
    high = centre + least / 2;
    margin = 0.0;
  }
  return {low - margin, high + margin};
}

TrendView::TrendView(QWidget* parent, const char* name, const QStringList& line_names,
                     bool with_band)
    : QChartView(parent), chart_(new QChart) {
  setObjectName(QString::fromLatin1(name));
  chart_->setAnimationOptions(QChart::NoAnimation);
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  setChart(chart_);
  setRenderHint(QPainter::Antialiasing);

  time_axis_ = new QValueAxis;
  value_axis_ = new QValueAxis;
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(value_axis_, Qt::AlignLeft);

  if (with_band) {
    band_upper_ = new QLineSeries(chart_);
    band_lower_ = new QLineSeries(chart_);
    band_ = new QAreaSeries(band_upper_, band_lower_);
    band_->setName(QStringLiteral("Розкид 10 останніх"));
    band_->setBrush(QColor(0, 140, 60, 50));
    band_->setPen(QPen(QColor(0, 140, 60, 120), 1));
    chart_->addSeries(band_);
    band_->attachAxis(time_axis_);
    band_->attachAxis(value_axis_);
  }
  for (int i = 0; i < line_names.size(); ++i) {
    auto* series = new QLineSeries;
    series->setName(line_names[i]);
    // A cosmetic pen of one pixel is drawn without stroking the path: a trend redrawn a few
    // times a second costs a fraction of what a wider line would.
    QPen pen(kLineColours[i % 3], 1);
    pen.setCosmetic(true);
    series->setPen(pen);
    chart_->addSeries(series);
    series->attachAxis(time_axis_);
    series->attachAxis(value_axis_);
    lines_.push_back(series);
  }
  setAccessibleName(QStringLiteral("Графік: ") + line_names.join(QStringLiteral(", ")));
  setMinimumSize(520, 300);
  UpdateTimeTitle();
}

void TrendView::SetUnit(const QString& unit) {
  unit_ = unit;
  value_axis_->setTitleText(unit);
}

void TrendView::SetMinutes(bool minutes) {
  minutes_ = minutes;
  UpdateTimeTitle();
}

void TrendView::UpdateTimeTitle() {
  time_axis_->setTitleText(minutes_ ? QStringLiteral("Час, хв") : QStringLiteral("Час, с"));
}

QList<QPointF> TrendView::InAxisTime(const QList<QPointF>& points) const {
  if (!minutes_)
    return points;
  QList<QPointF> converted;
  converted.reserve(points.size());
  for (const QPointF& p : points)
    converted.append(QPointF(p.x() / 60.0, p.y()));
  return converted;
}

void TrendView::SetLine(int index, const QList<QPointF>& points) {
  lines_[static_cast<size_t>(index)]->replace(InAxisTime(points));
}

void TrendView::SetBand(const QList<QPointF>& upper, const QList<QPointF>& lower) {
  if (band_ == nullptr)
    return;
  band_upper_->replace(InAxisTime(upper));
  band_lower_->replace(InAxisTime(lower));
}

void TrendView::ShowSpan(double from, double to) {
  const double scale = minutes_ ? 60.0 : 1.0;
  const double start = from / scale;
  const double end = std::max(to, from + 1.0) / scale;
  time_axis_->setRange(start, end);
  RoundTicks(time_axis_, start, end);
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  auto take = [&](const QLineSeries* series) {
    for (const QPointF& p : series->points()) {
      low = std::min(low, p.y());
      high = std::max(high, p.y());
    }
  };
  for (const QLineSeries* series : lines_)
    take(series);
  if (band_ != nullptr) {
    take(band_upper_);
    take(band_lower_);
  }
  if (!std::isfinite(low))
    return;
  // Never narrower than a millionth of the value, so float noise is not drawn as a storm.
  const double least = std::max(std::fabs(high) * 1e-6, 1e-6);
  const auto [bottom, top] = PaddedRange(low, high, least);
  // Round values at both ends, so every tick falls on one.
  const double step = NiceStep((top - bottom) / 3.5);
  const double nice_bottom = std::floor(bottom / step) * step;
  const double nice_top = std::ceil(top / step) * step;
  value_axis_->setRange(nice_bottom, nice_top);
  value_axis_->setTickCount(static_cast<int>(std::lround((nice_top - nice_bottom) / step)) + 1);
  value_axis_->setLabelFormat(LabelFormat(step));
}
