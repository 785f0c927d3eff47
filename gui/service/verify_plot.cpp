#include "gui/service/verify_plot.h"

#include <QPen>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const QColor kRisingColour(0, 90, 190);
const QColor kFallingColour(200, 90, 0);
const QColor kBandColour(0, 140, 60);

QCPGraph* PointsGraph(QCustomPlot* plot, const QString& name, const QColor& colour,
                      Qt::PenStyle style, QCPScatterStyle::ScatterShape shape) {
  QCPGraph* graph = plot->addGraph();
  graph->setName(name);
  QPen pen(colour, 1.5, style);
  graph->setPen(pen);
  graph->setScatterStyle(QCPScatterStyle(shape, colour, colour, 7));
  return graph;
}

}  // namespace

VerifyPlot::VerifyPlot(QWidget* parent) : QCustomPlot(parent) {
  setObjectName(QStringLiteral("PlotErrors"));
  setAccessibleName(QStringLiteral("Графік похибки"));
  setAntialiasedElements(QCP::aePlottables | QCP::aeFills);

  // The band first, so the points are drawn over it.
  band_lower_ = addGraph();
  band_upper_ = addGraph();
  const QPen edge(QColor(kBandColour.red(), kBandColour.green(), kBandColour.blue(), 140), 1);
  band_lower_->setPen(edge);
  band_upper_->setPen(edge);
  band_upper_->setBrush(QColor(kBandColour.red(), kBandColour.green(), kBandColour.blue(), 45));
  band_upper_->setChannelFillGraph(band_lower_);
  band_upper_->setName(QStringLiteral("Допуск"));
  band_lower_->removeFromLegend();

  rising_ = PointsGraph(this, QStringLiteral("Зростання"), kRisingColour, Qt::SolidLine,
                        QCPScatterStyle::ssCircle);
  falling_ = PointsGraph(this, QStringLiteral("Спадання"), kFallingColour, Qt::DashLine,
                         QCPScatterStyle::ssTriangleInverted);

  xAxis->grid()->setZeroLinePen(Qt::NoPen);
  yAxis->grid()->setZeroLinePen(QPen(QColor(120, 120, 120), 1));
  // The legend in a row of its own under the axes: inside them it would hide points at the
  // edge of the band, where the verdict is decided.
  legend->setVisible(true);
  legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
  legend->setBorderPen(Qt::NoPen);
  legend->setBrush(Qt::NoBrush);
  legend->setIconSize(16, 10);
  legend->setColumnSpacing(10);
  auto* legend_row = new QCPLayoutGrid;
  plotLayout()->addElement(1, 0, legend_row);
  legend_row->addElement(0, 0, new QCPLayoutElement(this));
  legend_row->addElement(0, 1, legend);
  legend_row->addElement(0, 2, new QCPLayoutElement(this));
  legend_row->setColumnStretchFactors({1.0, 0.001, 1.0});
  plotLayout()->setRowStretchFactor(1, 0.001);
  setMinimumSize(280, 200);
  Show(nullptr);
}

void VerifyPlot::Show(const VerificationRun* run) {
  const QString unit = run ? QString::fromStdString(run->unit) : QString();
  xAxis->setLabel(QStringLiteral("Подане значення, %1").arg(unit));
  yAxis->setLabel(QStringLiteral("Похибка, %1").arg(unit));
  for (QCPGraph* graph : {rising_, falling_, band_upper_, band_lower_})
    graph->data()->clear();
  if (!run) {
    replot(rpQueuedReplot);
    return;
  }

  // The band through the ends of the range, zero within it (where a tolerance in % of reading
  // turns) and every applied value, so that it is exact at the points themselves.
  double low = run->plan.range_low * run->factor;
  double high = run->plan.range_high * run->factor;
  std::vector<double> keys{low, high};
  if (low < 0.0 && high > 0.0)
    keys.push_back(0.0);
  double extent = 0.0;
  for (const VerificationPoint& p : run->points) {
    (p.falling ? falling_ : rising_)->addData(p.applied, p.error);
    keys.push_back(p.applied);
    extent = std::max(extent, std::fabs(p.error));
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  for (double x : keys) {
    const double tolerance = ToleranceAt(run->plan, x, run->factor);
    band_upper_->addData(x, tolerance);
    band_lower_->addData(x, -tolerance);
    extent = std::max(extent, tolerance);
    low = std::min(low, x);
    high = std::max(high, x);
  }

  const double margin = (high - low) * 0.04;
  xAxis->setRange(low - margin, high + margin);
  if (!(extent > 0.0))
    extent = 1.0;
  yAxis->setRange(-extent * 1.15, extent * 1.15);
  replot(rpQueuedReplot);
}
