#include "core/verification_certificate.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/calibration_restore.h"
#include "core/document_html.h"
#include "core/number_format.h"
#include "core/verification_run.h"

using nlohmann::json;

namespace {

using document_html::Escaped;
using document_html::Row;
using document_html::Signed;

constexpr char kNumberPrefix[] = "В-";

std::string Trimmed(double v) {
  std::string text = FormatFixed(v, 6);
  while (!text.empty() && text.back() == '0')
    text.pop_back();
  if (!text.empty() && text.back() == '.')
    text.pop_back();
  return text;
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "—" : Escaped(text);
}

// The instruments the applied values were read from, as each identified itself, in order.
std::vector<std::string> InstrumentsOf(const std::vector<VerificationRun>& runs) {
  std::vector<std::string> ids;
  const auto add = [&ids](const std::string& id) {
    if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end())
      ids.push_back(id);
  };
  for (const VerificationRun& run : runs) {
    add(run.instrument);
    for (const VerificationPoint& p : run.points) {
      if (p.source == AppliedSource::kInstrument)
        add(p.source_id);
    }
  }
  return ids;
}

const char* kTable = "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">\n";

std::string RunTable(const VerificationRun& run) {
  const int d = run.digits + 1;
  const std::string u = "<br>" + Escaped(run.unit);
  // Where any applied value was read from an instrument, each says where it came from.
  const bool read = std::any_of(run.points.begin(), run.points.end(), [](const auto& p) {
    return p.source == AppliedSource::kInstrument;
  });
  std::string html = kTable;
  html += std::string("<tr><th>№</th><th>Подане") + u + "</th>" + (read ? "<th>Дж.</th>" : "") +
          "<th>Напр.</th><th>Середнє" + u + "</th><th>СКВ" + u +
          "</th><th width=\"4%\">n</th><th>Похибка" + u +
          "</th><th>Похибка,<br>% показу</th><th>Похибка,<br>% діап.</th><th>Допуск" + u +
          "</th><th width=\"19%\">Висновок</th></tr>\n";
  for (size_t i = 0; i < run.points.size(); ++i) {
    const VerificationPoint& p = run.points[i];
    std::vector<std::string> cells = {std::to_string(i + 1), FormatFixed(p.applied, run.digits)};
    if (read)
      cells.push_back(p.source == AppliedSource::kInstrument ? "прилад" : "введено");
    for (std::string cell :
         {std::string(p.falling ? "↓" : "↑"), FormatFixed(p.mean, d), FormatFixed(p.deviation, d),
          "<nobr>" + std::to_string(p.readings) + "</nobr>", Signed(p.error, d),
          p.error_of_reading ? Signed(*p.error_of_reading, 3) : std::string("—"),
          Signed(p.error_of_span, 3), "±" + FormatFixed(p.tolerance, d),
          std::string("<nobr>") + VerdictText(p.verdict) + "</nobr>"})
      cells.push_back(std::move(cell));
    html += Row(cells);
  }
  html += "</table>\n";
  if (read) {
    html +=
        "<p>Дж. — джерело поданого значення: «прилад» — середнє показів еталонного приладу "
        "за те саме вікно показів, що й середнє давача; «введено» — введене інженером.</p>\n";
  }
  const std::vector<Hysteresis> hysteresis = HysteresisOf(run);
  if (!hysteresis.empty()) {
    html += "<p>Гістерезис (похибка на спаданні мінус на зростанні): ";
    for (size_t i = 0; i < hysteresis.size(); ++i) {
      const Hysteresis& h = hysteresis[i];
      html += (i ? "; " : "") + FormatFixed(h.nominal, run.digits) + " " + Escaped(run.unit) +
              ": " + Signed(h.value, d) + " " + Escaped(run.unit) + " (" + Signed(h.of_span, 3) +
              " % діапазону)";
    }
    html += ".</p>\n";
  }
  html += "<p><b>Висновок: " + std::string(run.cancelled ? "перевірку не завершено — " : "") +
          VerdictText(RunVerdict(run)) + "</b>" +
          (run.cancelled ? " (за виміряними точками)" : "") + ".</p>\n";
  return html;
}

}  // namespace

std::string NextCertificateNumber(const std::vector<JournalRecord>& lines,
                                  const std::string& year) {
  const std::string prefix = kNumberPrefix + year + "-";
  long highest = 0;
  for (const JournalRecord& r : lines) {
    const std::optional<CertificateDetails> c = CertificateFrom(r);
    if (!c || c->number.rfind(prefix, 0) != 0)
      continue;
    try {
      highest = std::max(highest, std::stol(c->number.substr(prefix.size())));
    } catch (const std::exception&) {
    }
  }
  std::string tail = std::to_string(highest + 1);
  if (tail.size() < 4)
    tail.insert(0, 4 - tail.size(), '0');
  return prefix + tail;
}

JournalRecord CertificateJournalRecord(const JournalRecord& entry, const CertificateDetails& c) {
  JournalRecord r;
  r.time = JournalTimeNow();
  r.run = entry.run;
  r.step = kStepCertificate;
  r.through_corrector = entry.through_corrector;
  r.port = entry.port;
  r.sensor_address = entry.sensor_address;
  r.channel = entry.channel;
  r.unit = entry.unit;
  const json d = {{"number", c.number},           {"issued", c.issued},
                  {"engineer", c.engineer},       {"customer", c.customer},
                  {"temperature", c.temperature}, {"pressure", c.pressure},
                  {"humidity", c.humidity}};
  r.detail = d.dump(-1, ' ', false, json::error_handler_t::replace);
  return r;
}

std::optional<CertificateDetails> CertificateFrom(const JournalRecord& record) {
  if (record.step != kStepCertificate || record.detail.empty())
    return std::nullopt;
  const json d = json::parse(record.detail, nullptr, false);
  if (!d.is_object())
    return std::nullopt;
  const auto text = [&d](const char* key) {
    const auto it = d.find(key);
    return it != d.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  return CertificateDetails{text("number"),   text("issued"),      text("engineer"),
                            text("customer"), text("temperature"), text("pressure"),
                            text("humidity")};
}

std::optional<CertificateDetails> CertificateOf(const JournalRecord& entry) {
  std::optional<CertificateDetails> latest;
  for (const JournalRecord& step : entry.steps) {
    if (std::optional<CertificateDetails> c = CertificateFrom(step))
      latest = c;
  }
  return latest;
}

bool HasVerification(const JournalRecord& entry) {
  return !VerificationsOf(entry).empty();
}

std::string VerificationCertificateHtml(const JournalRecord& entry, const CertificateDetails& c) {
  const std::vector<VerificationRun> runs = VerificationsOf(entry);
  const JournalRecord* calibration = entry.step.empty() ? &entry : nullptr;
  const VerificationRun* first = runs.empty() ? nullptr : &runs.front();

  std::string html =
      "<html><head><meta charset=\"utf-8\"><style>td, th { font-size: 7.5pt; }</style></head>"
      "<body>\n"
      "<h2 align=\"center\">Сертифікат калібровки № " +
      Escaped(c.number) + "</h2>\n";
  html += "<p align=\"center\">Дата видачі: " + OrDash(c.issued) + "</p>\n";
  html += "<table cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\n";
  html += Row({"Замовник / об'єкт", OrDash(c.customer)});
  std::string corrector = entry.through_corrector ? "коректор ЛУТАР" : "давач напряму (Modbus RTU)";
  if (entry.plate)
    corrector += ", Plate " + std::to_string(*entry.plate);
  if (entry.software_version)
    corrector += ", версія ПО " + std::to_string(*entry.software_version);
  if (entry.corrector_address)
    corrector += ", адреса " + std::to_string(*entry.corrector_address);
  if (entry.line)
    corrector += ", нитка " + std::to_string(*entry.line);
  html += Row({"Засіб вимірювання", Escaped(corrector)});
  html +=
      Row({"Давач", std::string(entry.channel == 1 ? "температури" : "тиску") + ", адреса " +
                        std::to_string(entry.sensor_address) + ", одиниця " + Escaped(entry.unit)});
  html += Row({"Умови", "температура " + OrDash(c.temperature) + " °С, атмосферний тиск " +
                            OrDash(c.pressure) + " кПа, відносна вологість " + OrDash(c.humidity) +
                            " %"});
  html += Row({"Калібровку виконав", OrDash(c.engineer)});
  html += "</table>\n";

  html += "<h3>Еталони</h3>\n";
  std::vector<std::string> named;
  for (const VerificationRun& run : runs) {
    if (!run.reference)
      continue;
    const ReferenceStandard& s = *run.reference;
    if (std::find(named.begin(), named.end(), s.name) != named.end())
      continue;
    named.push_back(s.name);
    if (named.size() == 1)
      html += kTable + Row({"Еталон", "Модель", "Зав. №", "Свідоцтво", "Дійсне до", "U (k)"}, true);
    const std::string run_day = run.started.substr(0, 10);
    const bool overdue = PastDue(s, run_day);
    html += Row(
        {Escaped(s.name), OrDash(s.model), OrDash(s.serial), OrDash(s.certificate),
         OrDash(s.due_date) + (overdue ? " <b>ПРОСТРОЧЕНО</b>" : ""),
         Trimmed(s.uncertainty) + " " + Escaped(s.unit) + " (k = " + Trimmed(s.coverage) + ")"});
  }
  const std::vector<std::string> instruments = InstrumentsOf(runs);
  html +=
      named.empty() ? (instruments.empty() ? "<p>Еталон не зазначено.</p>\n" : "") : "</table>\n";
  for (const std::string& id : instruments)
    html += "<p>Подані значення прочитано з еталонного приладу: <b>" + Escaped(id) + "</b>.</p>\n";

  if (first) {
    const TestPlan& plan = first->plan;
    const std::string sensor_unit = entry.channel == 1 ? "°С" : "кПа";
    html += "<h3>Програма і правило прийняття рішення</h3>\n<p>Точки: ";
    std::vector<PlanPoint> sequence = PlanSequence(plan);
    std::string points;
    for (const PlanPoint& p : sequence) {
      if (!p.falling)
        points += (points.empty() ? "" : "; ") + Trimmed(p.nominal);
    }
    html += points + " " + sensor_unit + " (діапазон " + Trimmed(plan.range_low) + " ... " +
            Trimmed(plan.range_high) + " " + sensor_unit + "), " + DirectionText(plan.direction) +
            ".<br>Допуск: " + Escaped(ToleranceText(plan, sensor_unit)) +
            ".<br>Правило: " + Escaped(RuleText(plan.rule)) + ".</p>\n";
  }

  const auto section = [&](VerificationStage stage, const char* title) {
    for (const VerificationRun& run : runs) {
      if (run.stage == stage ||
          (stage == VerificationStage::kAsFound && run.stage == VerificationStage::kAlone)) {
        html += std::string("<h3>") + title + "</h3>\n" + RunTable(run);
      }
    }
  };
  section(VerificationStage::kAsFound, "Результати «як знайдено»");

  html += "<h3>Налаштування</h3>\n";
  if (calibration && calibration->written) {
    html += kTable + Row({"", "Зміщення", "Нахил"}, true);
    if (calibration->as_found)
      html += Row({"До налаштування", FormatFixed(calibration->as_found->offset, 7),
                   FormatFixed(calibration->as_found->slope, 7)});
    if (const std::optional<SensorCalibration> left = calibration->AsLeft())
      html +=
          Row({"Після налаштування", FormatFixed(left->offset, 7), FormatFixed(left->slope, 7)});
    html += "</table>\n<p>Зчитування після запису: ";
    html += !calibration->read_back_matches ? "не прочитано"
            : *calibration->read_back_matches ? "регістри 436-439 збігаються із записаним біт у біт"
                                              : "НЕ ЗБІГАЄТЬСЯ із записаним";
    html += ".</p>\n";
  } else {
    html += "<p>Не виконувалось.</p>\n";
  }
  section(VerificationStage::kAsLeft, "Результати «як залишено»");

  html += "<h3>Невизначеність</h3>\n<p>";
  if (first && first->reference) {
    html += "Розширена невизначеність поданих значень — невизначеність еталона U = " +
            Trimmed(first->uncertainty) + " " + Escaped(first->unit) + " при коефіцієнті " +
            "охоплення k = " + Trimmed(first->reference->coverage) +
            ", що для нормального розподілу відповідає ймовірності охоплення приблизно 95 %. "
            "Розсіяння показів давача наведено в таблицях (СКВ) і до U не входить.";
  } else {
    html += "Невизначеність еталона не зазначено; висновки зроблено без її врахування.";
  }
  html += "</p>\n";

  html +=
      "<br><table width=\"100%\" cellspacing=\"0\" cellpadding=\"8\">\n"
      "<tr><td width=\"45%\">Калібровку виконав:</td><td>" +
      OrDash(c.engineer) +
      " ______________________</td></tr>\n"
      "<tr><td>Перевірив (метролог):</td><td>______________________________</td></tr>\n"
      "</table>\n</body></html>\n";
  return html;
}
