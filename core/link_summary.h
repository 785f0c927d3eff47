#pragma once

#include <string>
#include <vector>

struct AppState;

// What the main window tells about the link at a glance.
enum class LinkState {
  kNone,  // no link has been made, or it was taken down
  kUp,
  kLost,  // the port went away under it
};

LinkState CurrentLinkState(AppState& state);
// "не встановлено", "встановлено", "втрачено"
const char* LinkStateText(LinkState link);

struct SummaryRow {
  std::string label;
  std::string value;  // "—" when not known yet
};

// "COMn — device (adapter's by-id name)": a look at the file system, so a view that refreshes
// often keeps it until the port or the link's state changes.
std::string PortDescription(int port);

// Connection type, port and its device, rate, the corrector's address, plate, software version
// and line (or that there is none), the sensor's address, channel and unit, the link's state
// and the last value read; `link` and `port` as CurrentLinkState and PortDescription gave them.
std::vector<SummaryRow> DescribeLink(AppState& state, LinkState link, const std::string& port);
// The same, with the link's state and the port looked up now.
std::vector<SummaryRow> DescribeLink(AppState& state);
