#pragma once

#include <QString>

class QPrinter;

// An HTML document printed on A4 pages of `printer` with "Сторінка N з M" and `footer` at the
// foot of each page. Laid out at a fixed resolution, so that the pages break alike on paper,
// in a PDF and in the preview.
void PrintPagedHtml(const QString& html, const QString& footer, QPrinter& printer);
