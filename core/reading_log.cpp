#include "core/reading_log.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <locale>
#include <stdexcept>
#include <system_error>

#include "core/shortest_decimal.h"

namespace {

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A field as a spreadsheet reads it back: quoted when it holds the separator, a quote or a
// line break, its quotes doubled. Line breaks of device texts become blanks first.
std::string Field(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n')
      c = ' ';
  }
  if (text.find_first_of(";\"") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string WithMark(std::string number, char decimal_mark) {
  for (char& c : number) {
    if (c == '.')
      c = decimal_mark;
  }
  return number;
}

// Every digit the sensor gave, none it did not: the value is a 32-bit float's.
std::string Number(double value, char decimal_mark) {
  return ShortestDecimal(static_cast<float>(value), decimal_mark);
}

}  // namespace

std::string LogTimeText(std::chrono::system_clock::time_point when) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
  const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
  // Called on the caller's thread only; nothing else here uses the shared result.
  const std::tm* local = std::localtime(&seconds);
  if (local == nullptr)
    return {};
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local->tm_year + 1900,
                local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec,
                static_cast<int>(ms.count() % 1000));
  return text;
}

std::string ReadingLogFileName(int channel, int line, int sensor_address,
                               std::chrono::system_clock::time_point when) {
  // "2026-12-08 15:47:36.123": the colons cannot stand in a Windows file name.
  std::string time = LogTimeText(when).substr(0, 19);
  for (char& c : time) {
    if (c == ' ')
      c = '_';
    else if (c == ':')
      c = '-';
  }
  std::string name = LogChannelName(channel);
  if (line > 0)
    name += "_нитка" + std::to_string(line);
  name += "_давач" + std::to_string(sensor_address);
  if (!time.empty())
    name += "_" + time;
  return name + ".csv";
}

std::string WithCsvExtension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  // A leading dot makes a hidden name on POSIX, not an extension.
  if (dot != std::string::npos && dot > name && dot + 1 < path.size())
    return path;
  if (dot != std::string::npos && dot > name && dot + 1 == path.size())
    return path + "csv";
  return path + ".csv";
}

char UserDecimalSeparator() {
  try {
    const char point = std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
    return point == ',' ? ',' : '.';
  } catch (const std::exception&) {
    return '.';  // a locale the environment names but the system lacks
  }
}

const char* LogChannelName(int channel) {
  return channel == 1 ? "Температура" : "Тиск";
}

std::string ReadingLogHeader() {
  return "Дата і час;Секунди від початку;Значення у давачі;За налаштуванням виробника;"
         "Одиниця;Канал;Помилка\r\n";
}

std::string ReadingLogRow(const LogReading& reading, char decimal_mark) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", reading.seconds);
  std::string row = LogTimeText(reading.when);
  row += ';';
  row += WithMark(seconds, decimal_mark);
  row += ';';
  if (reading.reported)
    row += Number(*reading.reported, decimal_mark);
  row += ';';
  if (reading.factory)
    row += Number(*reading.factory, decimal_mark);
  row += ';' + Field(reading.unit) + ';' + Field(reading.channel) + ';' + Field(reading.error);
  return row + "\r\n";
}

ReadingLog::~ReadingLog() {
  Close();
}

bool ReadingLog::Open(const std::string& path, char decimal_mark, std::string& error) {
  Close();
  std::error_code ec;
  const std::filesystem::path file = PathOf(path);
  const bool fresh =
      !std::filesystem::exists(file, ec) || std::filesystem::file_size(file, ec) == 0;
  // A row cut short by a killed program or a full disk ends its own line, so the next row
  // starts whole on a line of its own.
  bool torn = false;
  if (!fresh) {
    std::ifstream existing(file, std::ios::binary | std::ios::ate);
    if (existing && existing.tellg() > 0) {
      existing.seekg(-1, std::ios::end);
      torn = existing.get() != '\n';
    }
  }
  file_.open(file, std::ios::binary | std::ios::app);
  if (!file_) {
    error = "файл не відкривається для запису";
    return false;
  }
  if (fresh || torn) {
    if (fresh)
      file_ << kUtf8ByteOrderMark << ReadingLogHeader();
    else
      file_ << "\r\n";
    file_.flush();
    if (!file_) {
      error = "запис у файл не вдався";
      file_.close();
      return false;
    }
  }
  path_ = path;
  decimal_mark_ = decimal_mark;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    error_.clear();
    rows_written_ = 0;
  }
  open_ = true;
  writer_ = std::thread([this] { Run(); });
  return true;
}

void ReadingLog::Append(const LogReading& reading) {
  if (!open_)
    return;
  std::string row = ReadingLogRow(reading, decimal_mark_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(row));
  }
  wake_.notify_one();
}

void ReadingLog::Close() {
  if (!open_)
    return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  writer_.join();
  file_.close();
  open_ = false;
}

std::string ReadingLog::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

size_t ReadingLog::rows_written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_written_;
}

void ReadingLog::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty() && stopping_)
      return;
    const std::string row = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    // Written and flushed row by row: the stream's buffer is empty before each row and larger
    // than one, so each row leaves in a single write.
    file_.write(row.data(), static_cast<std::streamsize>(row.size()));
    file_.flush();
    const bool failed = !file_;
    if (failed)
      file_.clear();
    lock.lock();
    if (failed) {
      if (error_.empty())
        error_ = "запис у файл журналу показів не вдався";
    } else {
      ++rows_written_;
    }
  }
}
