#include "comm/comport_line.h"

bool ComPortLine::Purge() {
  next_ = end_ = 0;
  return PurgeComPort(handle_);
}

bool ComPortLine::SetRts(bool on) {
  return SetComRts(handle_, on);
}

bool ComPortLine::Write(const uint8_t* data, size_t size) {
  return WriteComPort(handle_, data, size);
}

SerialLine::ReadResult ComPortLine::ReadByte(uint8_t& byte) {
  if (next_ == end_) {
    size_t got = 0;
    const ReadResult read = ReadComBytes(handle_, received_.data(), received_.size(), got);
    if (read != ReadResult::kByte)
      return read;
    next_ = 0;
    end_ = got;
  }
  byte = received_[next_++];
  return ReadResult::kByte;
}

bool ComPortLine::ClearErrors() {
  return ClearComErrors(handle_);
}

bool ComPortLine::Gone() {
  return ComPortGone(handle_);
}

void ComPortLine::WaitForInput(std::chrono::microseconds limit) {
  // Bytes already taken from the port are input too.
  if (next_ != end_)
    return;
  next_ = 0;
  end_ = WaitComInput(handle_, limit, received_.data(), received_.size());
}
