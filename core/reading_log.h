#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// One row of the readings log: a reading, or the reason there was none.
struct LogReading {
  std::chrono::system_clock::time_point when;
  double seconds = 0.0;  // since logging started
  // Both in the display unit; none when the reading failed or was not a number.
  std::optional<double> reported;
  std::optional<double> factory;
  std::string unit;     // UTF-8
  std::string channel;  // "Тиск" or "Температура"
  std::string error;    // why there is no value; empty for a good reading
};

// The log's rows as text: fields apart by ';', UTF-8, numbers with `decimal_mark` (a comma
// where the user's spreadsheet expects one), each row ending in CR LF as spreadsheets write
// them. The header opens a new file, after the byte-order mark.
std::string ReadingLogHeader();
// The channel as a row names it: "Тиск" (0) or "Температура" (1).
const char* LogChannelName(int channel);
std::string ReadingLogRow(const LogReading& reading, char decimal_mark);
// Local date and time to the millisecond, as the log shows it: "2026-12-08 15:47:36.123".
std::string LogTimeText(std::chrono::system_clock::time_point when);
// The decimal separator of the user's locale (the environment's, not the process's own, which
// stays "C" for every other number): ',' or '.'.
char UserDecimalSeparator();
inline constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// The name a new log is offered under: the channel, the corrector line (0: a direct link), the
// sensor's address and the local time it starts, e.g.
// "Тиск_нитка1_давач101_2026-12-08_15-47-36.csv".
std::string ReadingLogFileName(int channel, int line, int sensor_address,
                               std::chrono::system_clock::time_point when);
// `path` with ".csv" after a file name that has no extension of its own.
std::string WithCsvExtension(const std::string& path);

// Appends readings to a CSV file as they arrive. Each row goes to the system in one write as
// soon as the writer gets to it, so a killed program leaves every earlier row whole; the
// writing is done by a thread of its own, so a slow or stuck disk never holds up the polling.
class ReadingLog {
 public:
  ReadingLog() = default;
  ~ReadingLog();
  ReadingLog(const ReadingLog&) = delete;
  ReadingLog& operator=(const ReadingLog&) = delete;

  // Opens `path` (UTF-8) for appending; a new or empty file first gets the byte-order mark and
  // the header. False with the reason in `error` when it cannot be opened.
  bool Open(const std::string& path, char decimal_mark, std::string& error);
  // Queues one row; returns at once.
  void Append(const LogReading& reading);
  // Writes what is queued, then closes the file.
  void Close();

  bool is_open() const { return open_; }
  const std::string& path() const { return path_; }
  // The first failed write since Open, for the user; empty while every row got out.
  std::string error() const;
  // Rows handed to the system so far.
  size_t rows_written() const;

 private:
  void Run();

  std::string path_;
  char decimal_mark_ = '.';
  bool open_ = false;
  std::ofstream file_;
  std::thread writer_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  bool stopping_ = false;
  std::string error_;
  size_t rows_written_ = 0;
};
