#include "core/link_summary.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "core/app_state.h"
#include "core/link_session.h"
#include "sim/virtual_line.h"

namespace {

std::map<std::string, std::string> Rows(AppState& state) {
  std::map<std::string, std::string> rows;
  for (const SummaryRow& row : DescribeLink(state))
    rows[row.label] = row.value;
  return rows;
}

class LinkSummaryTest : public ::testing::Test {
 protected:
  LinkSummaryTest() {
    state.clock = &clock;
    state.make_line = [this](ComHandle) {
      auto owned = std::make_unique<VirtualLine>(clock);
      line = owned.get();
      return owned;
    };
  }

  VirtualClock clock;
  AppState state;
  VirtualLine* line = nullptr;
};

TEST_F(LinkSummaryTest, ThroughTheCorrectorUpThenLostWithItsValueStale) {
  state.ConnectSettings.conn_type = 1;
  state.ConnectSettings.rate = 19200;
  state.ConnectSettings.line_num = 2;
  state.Channel = 1;
  auto rows = Rows(state);
  EXPECT_EQ(rows["Тип зв'язку"], "через коректор");
  EXPECT_EQ(rows["Стан зв'язку"], "не встановлено");
  EXPECT_EQ(rows["Плата"], "—");
  EXPECT_EQ(rows["Канал"], "температура");
  EXPECT_EQ(rows["Одиниця"], "°С");
  EXPECT_EQ(rows["Останнє значення"], "—");

  CreateExchangeObjects(state, nullptr);
  state.ActiveCalcBox->plate = 28;
  state.ActiveCalcBox->sw_version = 37;
  state.Connected = true;
  state.LastValue = 20.5f;
  rows = Rows(state);
  EXPECT_EQ(rows["Стан зв'язку"], "встановлено");
  EXPECT_EQ(rows["Плата"], "28");
  EXPECT_EQ(rows["Версія ПО"], "37");
  EXPECT_EQ(rows["Лінія"], "2");
  EXPECT_EQ(rows["Швидкість"], "19200 біт/с");
  EXPECT_EQ(rows["Останнє значення"], "20.5000 °С");

  line->set_gone_at(clock.Counter());
  EXPECT_EQ(CurrentLinkState(state), LinkState::kLost);
  rows = Rows(state);
  EXPECT_EQ(rows["Стан зв'язку"], "втрачено (порт зник)");
  EXPECT_EQ(rows["Останнє значення"], "20.5000 °С (застаріле, зв'язок втрачено)");

  CloseExchangeObjects(state, 0);
  EXPECT_EQ(CurrentLinkState(state), LinkState::kNone);
}

TEST_F(LinkSummaryTest, DirectLinkHasNoCorrector) {
  state.ConnectSettings.conn_type = 0;
  state.ConnectSettings.adr_P = 17;
  const auto rows = Rows(state);
  EXPECT_EQ(rows.at("Тип зв'язку"), "безпосередньо з давачем");
  for (const char* label : {"Адреса коректора", "Плата", "Версія ПО", "Лінія"})
    EXPECT_EQ(rows.at(label), "безпосередньо") << label;
  EXPECT_EQ(rows.at("Адреса давача"), "17");
  EXPECT_EQ(rows.at("Канал"), "тиск");
}

}  // namespace
