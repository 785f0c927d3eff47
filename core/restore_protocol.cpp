#include "core/restore_protocol.h"

#include <array>
#include <cstdio>

#include "core/calibration_restore.h"
#include "core/document_html.h"
#include "core/number_format.h"

namespace {

using document_html::ConnectionText;
using document_html::Escaped;
using document_html::Row;

constexpr int kDecimals = 7;
const char kFromRecord[] = " за записом ";

std::string CalibrationRow(const char* name, const std::optional<SensorCalibration>& c) {
  if (!c)
    return Row({name, "—", "—", "—"});
  const std::array<uint16_t, 4> w = c->Words();
  char words[40];
  std::snprintf(words, sizeof words, "%04X %04X %04X %04X", w[0], w[1], w[2], w[3]);
  return Row({name, FormatFixed(c->offset, kDecimals), FormatFixed(c->slope, kDecimals), words});
}

std::string ReadBackText(const JournalRecord& r) {
  if (!r.read_back_matches)
    return "не прочитано";
  if (*r.read_back_matches)
    return "регістри 436-439 збігаються з поверненою калібровкою біт у біт";
  return "НЕ ЗБІГАЄТЬСЯ з поверненою калібровкою";
}

}  // namespace

bool HasRestoreProtocol(const JournalRecord& record) {
  return record.outcome == JournalOutcome::kRestored;
}

std::string RestoreProtocolTitle() {
  return "Протокол відновлення калібровки";
}

std::string RestoreSourceText(const std::string& note) {
  const size_t at = note.find(kFromRecord);
  if (at == std::string::npos)
    return note;
  return note.substr(0, at) + ", запис журналу від " +
         JournalTimeText(note.substr(at + sizeof kFromRecord - 1));
}

std::string RestoreProtocolHtml(const JournalRecord& r) {
  std::string html =
      "<html><head><meta charset=\"utf-8\"></head><body style=\"font-size:10pt\">\n"
      "<h2 align=\"center\">ПРОТОКОЛ ВІДНОВЛЕННЯ КАЛІБРОВКИ ДАВАЧА</h2>\n"
      "<p align=\"center\">" +
      std::string(r.channel == 1 ? "Давач температури" : "Давач тиску") + " коректора ЛУТАР</p>\n";

  const std::string table =
      "<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\">\n";
  html += "<h3>Давач і підключення</h3>\n" + table;
  html += Row({"Дата і час відновлення", Escaped(JournalTimeText(r.time))});
  html += Row({"Канал", r.channel == 1 ? "температура" : "тиск"});
  html += Row({"Адреса давача", std::to_string(r.sensor_address)});
  html += Row({"Підключення", Escaped(ConnectionText(r))});
  html += Row({"Результат", Escaped(OutcomeText(r.outcome))});
  html += "</table>\n";

  html += "<h3>Відновлення</h3>\n<p>Повернуто калібровку: " +
          Escaped(r.note.empty() ? "—" : RestoreSourceText(r.note)) + ".</p>\n" + table;
  html += Row({"", "Зміщення", "Нахил", "Регістри 436-439"}, true);
  html += CalibrationRow("Стояла в давачі", r.as_found);
  html += CalibrationRow("Повернуто", r.written);
  html += CalibrationRow("Прочитано після запису", r.read_back);
  html += "</table>\n";
  html += "<p>Зчитування після запису: " + Escaped(ReadBackText(r)) + ".</p>\n";

  html +=
      "<br><br><table width=\"100%\" cellspacing=\"0\" cellpadding=\"8\">\n"
      "<tr><td width=\"45%\">Відновлення виконав (прізвище, ім'я):</td>"
      "<td>______________________________</td></tr>\n"
      "<tr><td>Підпис:</td><td>______________________________</td></tr>\n"
      "<tr><td>Дата:</td><td>____.____.________</td></tr>\n"
      "</table>\n</body></html>\n";
  return html;
}
