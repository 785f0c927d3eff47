#include "comm/comport_line.h"

bool ComPortLine::Purge() {
  return PurgeComPort(handle_);
}

bool ComPortLine::SetRts(bool on) {
  return SetComRts(handle_, on);
}

bool ComPortLine::Write(const uint8_t* data, size_t size) {
  return WriteComPort(handle_, data, size);
}

SerialLine::ReadResult ComPortLine::ReadByte(uint8_t& byte) {
  return ReadComByte(handle_, byte);
}

bool ComPortLine::ClearErrors() {
  return ClearComErrors(handle_);
}

bool ComPortLine::Gone() {
  return ComPortGone(handle_);
}

void ComPortLine::WaitForInput(std::chrono::microseconds limit) {
  WaitComInput(handle_, limit);
}
