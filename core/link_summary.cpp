#include "core/link_summary.h"

#include <cstdio>

#include "comm/comportfunctions.h"
#include "core/app_state.h"
#include "core/calibration.h"

namespace {

const char kUnknown[] = "—";

}  // namespace

std::string PortDescription(int port) {
  std::string text = "COM" + std::to_string(port);
  const std::string device = ComPortDevicePath(port);
  if (!device.empty())
    text += " — " + device;
  const std::string adapter = ComPortAdapterName(port);
  if (!adapter.empty())
    text += " (" + adapter + ")";
  return text;
}

LinkState CurrentLinkState(AppState& state) {
  if (!state.Connected || !state.Line)
    return LinkState::kNone;
  return state.Line->Gone() ? LinkState::kLost : LinkState::kUp;
}

const char* LinkStateText(LinkState link) {
  switch (link) {
    case LinkState::kUp:
      return "встановлено";
    case LinkState::kLost:
      return "втрачено (порт зник)";
    default:
      return "не встановлено";
  }
}

std::vector<SummaryRow> DescribeLink(AppState& state) {
  return DescribeLink(state, CurrentLinkState(state), PortDescription(state.ConnectSettings.port));
}

std::vector<SummaryRow> DescribeLink(AppState& state, LinkState link, const std::string& port) {
  const TConnectSettings& s = state.ConnectSettings;
  const bool through = s.conn_type == 1;
  const calcbox* box = state.ActiveCalcBox.get();
  const bool identified = box != nullptr && state.Connected;
  const std::string direct = "безпосередньо";
  const std::string unit = ChannelUnitName(state.Channel, s.P_unit);

  std::string value = kUnknown;
  if (state.LastValue && link != LinkState::kNone) {
    char text[48];
    std::snprintf(text, sizeof text, "%.4f", static_cast<double>(*state.LastValue));
    value = std::string(text) + " " + unit;
    if (link == LinkState::kLost)
      value += " (застаріле, зв'язок втрачено)";
  }

  return {
      {"Тип зв'язку", through ? "через коректор" : "безпосередньо з давачем"},
      {"Порт", port},
      {"Швидкість", std::to_string(s.rate) + " біт/с"},
      {"Адреса коректора", through ? std::to_string(s.adr) : direct},
      {"Плата", through ? (identified ? std::to_string(box->plate) : kUnknown) : direct},
      {"Версія ПО", through ? (identified ? std::to_string(box->sw_version) : kUnknown) : direct},
      {"Лінія", through ? std::to_string(s.line_num) : direct},
      {"Адреса давача", std::to_string(state.Channel == 1 ? s.adr_T : s.adr_P)},
      {"Канал", state.Channel == 1 ? "температура" : "тиск"},
      {"Одиниця", unit},
      {"Стан зв'язку", LinkStateText(link)},
      {"Останнє значення", value},
  };
}
