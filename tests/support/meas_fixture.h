#pragma once

#include <QLineEdit>
#include <QString>
#include <QTest>
#include <string>

#include "core/app_state.h"
#include "core/calibration.h"
#include "tests/support/scripted_host.h"

// Application state for a measurement dialog: the scripted user interface, a channel, display
// settings and the sensor's current calibration.
struct MeasState {
  explicit MeasState(uint8_t channel = 0, uint8_t p_unit = kKilopascalUnit) {
    state.ui = &ui;
    state.Channel = channel;
    state.ConnectSettings.P_unit = p_unit;
    state.SensorSlope = 1.0f;
    state.SensorOffset = 0.0f;
  }

  ScriptedHost ui;
  AppState state;
};

// A calibration record as the calibration command prepares it.
inline CalibrationRecord MakeRecord(double factor, uint8_t digits) {
  CalibrationRecord record;
  record.factor = factor;
  record.digits = digits;
  return record;
}

// Replaces the text of an edit as a user would: select everything, then type.
inline void Retype(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(edit, Qt::Key_Delete);
  } else {
    QTest::keyClicks(edit, text);
  }
}

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
