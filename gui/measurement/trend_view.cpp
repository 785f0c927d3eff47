#include "gui/measurement/trend_view.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor kLineColours[] = {QColor(0, 90, 190), QColor(200, 90, 0), QColor(0, 140, 60)};
const QColor kGridColour(220, 220, 220);
const QColor kAxisColour(140, 140, 140);
const QColor kTextColour(60, 60, 60);
// The plot's white card on the window's background.
constexpr int kCardMargin = 4;
constexpr double kCardRadius = 6.0;

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
int Decimals(double step) {
  return std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 9);
}

// Ticks on every multiple of `step`, labelled with as many decimals as the step needs.
void RoundTicks(QCPAxis* axis, double step) {
  auto* ticker = static_cast<QCPAxisTickerFixed*>(axis->ticker().data());
  ticker->setTickStep(step);
  axis->setNumberPrecision(Decimals(step));
}

void StyleAxis(QCPAxis* axis) {
  QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
  ticker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
  axis->setTicker(ticker);
  axis->setNumberFormat(QStringLiteral("f"));
  axis->setSubTicks(false);
  axis->setTickLengthIn(0);
  axis->setTickLengthOut(4);
  axis->setBasePen(QPen(kAxisColour, 1));
  axis->setTickPen(QPen(kAxisColour, 1));
  axis->setTickLabelColor(kTextColour);
  axis->setLabelColor(kTextColour);
  QFont title = axis->labelFont();
  title.setBold(true);
  axis->setLabelFont(title);
  axis->grid()->setPen(QPen(kGridColour, 1));
  axis->grid()->setZeroLinePen(Qt::NoPen);
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
    : QCustomPlot(parent) {
  setObjectName(QString::fromLatin1(name));
  // The card is painted beneath the buffer, which is left clear around it.
  setBackground(Qt::transparent);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  plotLayout()->setMargins(QMargins(kCardMargin + 4, kCardMargin + 4, kCardMargin + 4, 0));
  setAntialiasedElements(QCP::aePlottables | QCP::aeFills);
  for (QCPAxis* axis : {xAxis, yAxis, xAxis2, yAxis2})
    StyleAxis(axis);
  // Right and top edges closed by a grid line, as the ends fall on ticks.
  xAxis2->setVisible(false);
  yAxis2->setVisible(false);

  if (with_band) {
    band_lower_ = addGraph();
    band_upper_ = addGraph();
    const QPen edge(QColor(0, 140, 60, 120), 1);
    band_lower_->setPen(edge);
    band_upper_->setPen(edge);
    band_upper_->setBrush(QColor(0, 140, 60, 50));
    band_upper_->setChannelFillGraph(band_lower_);
    band_upper_->setName(QStringLiteral("Розкид 10 останніх"));
  }
  for (int i = 0; i < line_names.size(); ++i) {
    QCPGraph* graph = addGraph();
    graph->setName(line_names[i]);
    // A cosmetic pen of one pixel is drawn without stroking the path: a trend redrawn a few
    // times a second costs a fraction of what a wider line would.
    QPen pen(kLineColours[i % 3], 1);
    pen.setCosmetic(true);
    graph->setPen(pen);
    // Sampling would merge the empty point of a gap into its neighbours and bridge it; the
    // callers thin the readings to about one a pixel already.
    graph->setAdaptiveSampling(false);
    lines_.push_back(graph);
  }

  // The legend in a row of its own under the plot, centred and as wide as its entries.
  legend->setVisible(true);
  legend->setBorderPen(Qt::NoPen);
  legend->setBrush(Qt::NoBrush);
  legend->setTextColor(kTextColour);
  legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
  legend->setIconSize(10, 10);
  legend->setColumnSpacing(12);
  UpdateLegend();
  auto* legend_row = new QCPLayoutGrid;
  plotLayout()->addElement(1, 0, legend_row);
  legend_row->setMargins(QMargins(0, 0, 0, kCardMargin + 4));
  legend_row->addElement(0, 0, new QCPLayoutElement(this));
  legend_row->addElement(0, 1, legend);
  legend_row->addElement(0, 2, new QCPLayoutElement(this));
  legend_row->setColumnStretchFactors({1.0, 0.001, 1.0});
  plotLayout()->setRowStretchFactor(1, 0.001);

  setAccessibleName(QStringLiteral("Графік: ") + line_names.join(QStringLiteral(", ")));
  setMinimumSize(520, 300);
  UpdateTimeTitle();
}

void TrendView::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(
        QRectF(rect()).adjusted(kCardMargin, kCardMargin, -kCardMargin, -kCardMargin), kCardRadius,
        kCardRadius);
  }
  QCustomPlot::paintEvent(event);
}

void TrendView::SetUnit(const QString& unit) {
  unit_ = unit;
  yAxis->setLabel(unit);
}

void TrendView::SetMinutes(bool minutes) {
  minutes_ = minutes;
  UpdateTimeTitle();
}

void TrendView::UpdateTimeTitle() {
  xAxis->setLabel(minutes_ ? QStringLiteral("Час, хв") : QStringLiteral("Час, с"));
}

void TrendView::Fill(QCPGraph* graph, const QList<QPointF>& points) const {
  const double scale = minutes_ ? 60.0 : 1.0;
  QVector<double> keys;
  QVector<double> values;
  keys.reserve(points.size());
  values.reserve(points.size());
  for (const QPointF& p : points) {
    keys.append(p.x() / scale);
    values.append(p.y());
  }
  graph->setData(keys, values, true);
}

void TrendView::SetValueLines(const std::vector<SeriesPoint>& points) {
  const double scale = minutes_ ? 60.0 : 1.0;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  QVector<double> keys;
  QVector<double> reported;
  QVector<double> factory;
  const auto size = static_cast<qsizetype>(points.size()) + 16;
  keys.reserve(size);
  reported.reserve(size);
  factory.reserve(size);
  for (size_t i = 0; i < points.size(); ++i) {
    const SeriesPoint& p = points[i];
    if (p.after_gap && i > 0) {
      // A point without a value between the two stretches: the graph stops and starts again.
      keys.append((points[i - 1].t + p.t) / 2 / scale);
      reported.append(nan);
      factory.append(nan);
    }
    keys.append(p.t / scale);
    reported.append(p.reported);
    factory.append(p.factory);
  }
  lines_[0]->setData(keys, reported, true);
  if (lines_.size() > 1)
    lines_[1]->setData(keys, factory, true);
}

void TrendView::ShowLine(int index, bool shown) {
  lines_[static_cast<size_t>(index)]->setVisible(shown);
  UpdateLegend();
  ShowSpan(span_from_, span_to_);
}

void TrendView::UpdateLegend() {
  legend->clearItems();
  if (band_upper_ != nullptr)
    band_upper_->addToLegend();
  for (QCPGraph* graph : lines_) {
    if (graph->visible())
      graph->addToLegend();
  }
}

void TrendView::SetBand(const QList<QPointF>& upper, const QList<QPointF>& lower) {
  if (band_upper_ == nullptr)
    return;
  Fill(band_upper_, upper);
  Fill(band_lower_, lower);
}

void TrendView::ShowSpan(double from, double to) {
  span_from_ = from;
  span_to_ = to;
  const double scale = minutes_ ? 60.0 : 1.0;
  const double start = from / scale;
  const double end = std::max(to, from + 1.0) / scale;
  xAxis->setRange(start, end);
  RoundTicks(xAxis, NiceStep((end - start) / 5.0));
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (int i = 0; i < graphCount(); ++i) {
    if (!graph(i)->visible())
      continue;
    for (const QCPGraphData& p : *graph(i)->data()) {
      if (std::isnan(p.value))
        continue;
      low = std::min(low, p.value);
      high = std::max(high, p.value);
    }
  }
  if (std::isfinite(low)) {
    // Never narrower than a millionth of the value, so float noise is not drawn as a storm.
    const double least = std::max(std::fabs(high) * 1e-6, 1e-6);
    const auto [bottom, top] = PaddedRange(low, high, least);
    // Round values at both ends, so every tick falls on one.
    const double step = NiceStep((top - bottom) / 3.5);
    yAxis->setRange(std::floor(bottom / step) * step, std::ceil(top / step) * step);
    RoundTicks(yAxis, step);
  }
  // Redrawn once, when the event loop next runs, however many changes came before.
  replot(QCustomPlot::rpQueuedReplot);
}
