#include "core/calibration_certificate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/calibration.h"
#include "core/calibration_checks.h"
#include "core/calibration_restore.h"
#include "core/document_html.h"
#include "core/number_format.h"

namespace {

using document_html::ConnectionText;
using document_html::Escaped;
using document_html::Row;
using document_html::Signed;

constexpr int kCalibrationTextDecimals = 7;

// kPa -> the unit; 1 for temperature and for a name the table has not got.
double UnitFactor(const std::string& unit) {
  for (const PressureUnit& u : PressureUnits) {
    if (unit == u.name)
      return u.factor;
  }
  return 1.0;
}

std::string Words(const SensorCalibration& c) {
  const std::array<uint16_t, 4> w = c.Words();
  char text[40];
  std::snprintf(text, sizeof text, "%04X %04X %04X %04X", w[0], w[1], w[2], w[3]);
  return text;
}

std::string ReadBackText(const JournalRecord& r) {
  if (!r.written)
    return "не виконувалось: калібровку не записано";
  if (!r.read_back_matches)
    return "не прочитано";
  if (*r.read_back_matches)
    return "регістри 436-439 збігаються із записаним біт у біт";
  return "НЕ ЗБІГАЄТЬСЯ із записаним: прочитано " +
         (r.read_back ? CalibrationText(*r.read_back) : std::string("?"));
}

}  // namespace

int CertificateDecimals(const std::string& unit) {
  const int places = 3 - static_cast<int>(std::lround(std::log10(UnitFactor(unit))));
  return std::clamp(places, 0, 6);
}

std::vector<CertificatePoint> CertificatePoints(const JournalRecord& r) {
  std::vector<CertificatePoint> points;
  const std::optional<SensorCalibration> left = r.written ? r.AsLeft() : std::nullopt;
  std::array<double, 2> after{};
  const bool predictable = left && r.as_found && r.points.size() == 2 &&
                           r.as_found->slope != 0.0f && std::isfinite(r.as_found->slope);
  if (predictable) {
    CalibrationRecord c;
    c.factor = UnitFactor(r.unit);
    for (size_t i = 0; i < 2; ++i)
      c.received[i] = static_cast<float>(r.points[i].received);
    after = PredictedReadings(c, r.as_found->slope, r.as_found->offset, left->slope, left->offset);
  }
  for (size_t i = 0; i < r.points.size(); ++i) {
    const JournalPoint& p = r.points[i];
    CertificatePoint c;
    c.applied = p.applied;
    c.received = p.received;
    c.error_before = p.received - p.applied;
    if (predictable && i < 2) {
      c.reading_after = after[i];
      c.error_after = after[i] - p.applied;
    }
    c.readings = p.readings;
    c.deviation = p.deviation;
    c.applied_readings = p.applied_readings;
    c.applied_deviation = p.applied_deviation;
    points.push_back(c);
  }
  return points;
}

std::string CertificateHtml(const JournalRecord& r) {
  const int d = CertificateDecimals(r.unit);
  const std::string unit = Escaped(r.unit);
  const std::optional<SensorCalibration> left = r.written ? r.AsLeft() : std::nullopt;

  std::string html =
      "<html><head><meta charset=\"utf-8\"></head><body style=\"font-size:10pt\">\n"
      "<h2 align=\"center\">СЕРТИФІКАТ КАЛІБРОВКИ ДАВАЧА</h2>\n"
      "<p align=\"center\">" +
      std::string(r.channel == 1 ? "Давач температури" : "Давач тиску") + " коректора ЛУТАР</p>\n";

  html +=
      "<h3>Давач і підключення</h3>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" "
      "width=\"100%\">\n";
  html += Row({"Дата і час калібровки", Escaped(JournalTimeText(r.time)) + " (" +
                                            Escaped(r.time.size() > 23 ? r.time.substr(23) : "") +
                                            ")"});
  html += Row({"Канал", r.channel == 1 ? "температура" : "тиск"});
  html += Row({"Адреса давача", std::to_string(r.sensor_address)});
  html += Row({"Підключення", Escaped(ConnectionText(r))});
  html += Row({"Одиниця вимірювання", unit});
  html += Row({"Результат", Escaped(OutcomeText(r.outcome))});
  html += "</table>\n";

  html +=
      "<h3>Калібровка давача</h3>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" "
      "width=\"100%\">\n";
  html += Row({"", "Зміщення", "Нахил", "Регістри 436-439"}, true);
  const auto calibration_row = [&](const char* name, const std::optional<SensorCalibration>& c) {
    if (!c)
      return Row({name, "—", "—", "—"});
    return Row({name, FormatFixed(c->offset, kCalibrationTextDecimals),
                FormatFixed(c->slope, kCalibrationTextDecimals), Words(*c)});
  };
  html += calibration_row("Як знайдено", r.as_found);
  html += calibration_row("Як залишено", left);
  html += "</table>\n";

  const std::vector<CertificatePoint> points = CertificatePoints(r);
  html += "<h3>Точки калібровки</h3>\n";
  if (points.empty()) {
    html +=
        "<p>Калібровка без точок: " +
        std::string(r.outcome == JournalOutcome::kFactory ? "налаштування виробника."
                    : r.outcome == JournalOutcome::kRestored ? "відновлення збереженої калібровки."
                                                             : "точки не задавались.") +
        "</p>\n";
  } else {
    html += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\">\n";
    const std::string in_unit = "<br>" + unit;
    html += Row({"Точка", "Подане" + in_unit, "Показ до" + in_unit, "Похибка до" + in_unit,
                 "Показ після" + in_unit, "Похибка після" + in_unit, "Показів", "СКВ" + in_unit},
                true);
    bool any_from_reference = false;
    for (size_t i = 0; i < points.size(); ++i) {
      const CertificatePoint& p = points[i];
      // Where a reference instrument gave some applied values, each one says where it came from.
      std::string applied = FormatFixed(p.applied, d);
      if (p.applied_readings > 0) {
        any_from_reference = true;
        applied += "<br>еталон: " + std::to_string(p.applied_readings) + ", СКВ " +
                   FormatFixed(p.applied_deviation, d + 1);
      }
      html +=
          Row({std::to_string(i + 1), applied, FormatFixed(p.received, d),
               Signed(p.error_before, d), p.reading_after ? FormatFixed(*p.reading_after, d) : "—",
               p.error_after ? Signed(*p.error_after, d) : "—",
               p.readings > 0 ? std::to_string(p.readings) : "введено",
               p.readings > 0 ? FormatFixed(p.deviation, d + 1) : "—"});
    }
    html += "</table>\n";
    if (any_from_reference) {
      html +=
          "<p>Подане значення з позначкою «еталон» — середнє показів еталонного приладу за те "
          "саме вікно вимірювань (кількість показів і СКВ); без позначки — введене вручну.</p>\n";
    }
    html +=
        "<p>Похибка до: показ з калібровкою, знайденою в давачі, мінус подане значення. "
        "Показ після: що давач покаже з залишеною калібровкою (розрахунок за отриманими "
        "показами); похибка після: цей показ мінус подане значення.</p>\n";
  }

  html += "<h3>Перевірка запису</h3>\n<p>Зчитування після запису: " + Escaped(ReadBackText(r)) +
          ".</p>\n";
  if (r.as_left_error)
    html += "<p>Перевірка показу в поданій точці після запису: похибка " +
            Signed(*r.as_left_error, d) + " " + unit + ".</p>\n";
  if (!r.note.empty())
    html += "<p>Примітка: " + Escaped(r.note) + "</p>\n";

  html +=
      "<br><br><table width=\"100%\" cellspacing=\"0\" cellpadding=\"8\">\n"
      "<tr><td width=\"45%\">Калібровку виконав (прізвище, ім'я):</td>"
      "<td>______________________________</td></tr>\n"
      "<tr><td>Підпис:</td><td>______________________________</td></tr>\n"
      "<tr><td>Дата:</td><td>____.____.________</td></tr>\n"
      "</table>\n</body></html>\n";
  return html;
}
