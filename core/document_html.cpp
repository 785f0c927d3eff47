#include "core/document_html.h"

#include "core/calibration_journal.h"
#include "core/number_format.h"

namespace document_html {

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
      case '\n':
        out += "<br>";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Row(std::initializer_list<std::string> cells, bool header) {
  return Row(std::vector<std::string>(cells), header);
}

std::string Row(const std::vector<std::string>& cells, bool header) {
  std::string row = "<tr>";
  for (const std::string& c : cells)
    row += (header ? "<th>" : "<td>") + c + (header ? "</th>" : "</td>");
  return row + "</tr>\n";
}

std::string Signed(double value, int decimals) {
  const std::string text = FormatFixed(value, decimals);
  return value > 0.0 && text.find_first_not_of("0.") != std::string::npos ? "+" + text : text;
}

std::string ConnectionText(const JournalRecord& r) {
  std::string text = "COM" + std::to_string(r.port) + ", ";
  if (!r.through_corrector)
    return text + "напряму до давача (Modbus RTU)";
  text += "через коректор";
  if (r.corrector_address)
    text += ", адреса коректора " + std::to_string(*r.corrector_address);
  if (r.plate)
    text += ", Plate " + std::to_string(*r.plate);
  if (r.software_version)
    text += ", версія ПО " + std::to_string(*r.software_version);
  if (r.line)
    text += ", нитка " + std::to_string(*r.line);
  return text;
}

}  // namespace document_html
