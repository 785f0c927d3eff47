#include "gui/service/paged_print.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>

namespace {

constexpr int kLayoutDpi = 96;
constexpr int kLayoutDotsPerMeter = 3780;  // 96 dpi
constexpr qreal kFooterHeight = 28.0;      // at the layout's resolution

}  // namespace

void PrintPagedHtml(const QString& html, const QString& footer, QPrinter& printer) {
  QImage layout_device(1, 1, QImage::Format_RGB32);
  layout_device.setDotsPerMeterX(kLayoutDotsPerMeter);
  layout_device.setDotsPerMeterY(kLayoutDotsPerMeter);
  QTextDocument document;
  document.documentLayout()->setPaintDevice(&layout_device);
  document.setDocumentMargin(0);
  const QSizeF page = printer.pageLayout().paintRect(QPageLayout::Inch).size() * kLayoutDpi;
  const QSizeF body(page.width(), page.height() - kFooterHeight);
  document.setPageSize(body);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(9.0);
  document.setDefaultFont(font);
  document.setHtml(html);
  const int pages = document.pageCount();

  QPainter painter(&printer);
  const QRectF target = printer.pageLayout().paintRectPixels(printer.resolution());
  const qreal scale = target.width() / page.width();
  for (int n = 0; n < pages; ++n) {
    if (n > 0)
      printer.newPage();
    painter.save();
    painter.scale(scale, scale);
    painter.save();
    painter.translate(0, -n * body.height());
    const QRectF clip(0, n * body.height(), body.width(), body.height());
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    painter.setClipRect(clip);
    document.documentLayout()->draw(&painter, context);
    painter.restore();
    // In the layout's pixels, as the page is scaled: a point size would be taken at the
    // printer's resolution on top of the scale.
    QFont small = font;
    small.setPixelSize(11);
    painter.setFont(small);
    const QRectF foot(0, body.height(), page.width(), kFooterHeight);
    painter.drawLine(QPointF(0, foot.top() + 4), QPointF(page.width(), foot.top() + 4));
    painter.drawText(foot.adjusted(0, 6, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, footer);
    painter.drawText(foot.adjusted(0, 6, 0, 0), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Сторінка %1 з %2").arg(n + 1).arg(pages));
    painter.restore();
  }
}
