#include "core/reading_log.h"

#include <cstdio>
#include <ctime>
#include <locale>

#include "core/number_format.h"

namespace {

std::string WithSeparator(std::string text, char decimal) {
  for (char& c : text) {
    if (c == '.')
      c = decimal;
  }
  return text;
}

// Error texts may hold the field separator or a line break: quoted as CSV quotes them.
std::string Field(const std::string& text) {
  if (text.find_first_of(";\"\r\n") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string ReadingLogHeader() {
  return "\xEF\xBB\xBF"
         "Дата і час;Секунди від початку;Значення;Значення за калібровкою виробника;Одиниця;"
         "Канал;Помилка\r\n";
}

std::string ReadingLogLine(const LoggedReading& r, int digits, char decimal) {
  const auto number = [&](const std::optional<double>& v, int decimals) {
    return v ? WithSeparator(FormatFixed(*v, decimals), decimal) : std::string();
  };
  return LogTimeText(r.time) + ';' + number(r.seconds, 3) + ';' + number(r.value, digits) + ';' +
         number(r.factory_value, digits) + ';' + Field(r.unit) + ';' +
         (r.channel == 1 ? "температура" : "тиск") + ';' + Field(r.error) + "\r\n";
}

std::string LogTimeText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(time);
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  char text[48];
  std::snprintf(text, sizeof text, "%s.%03d", date, static_cast<int>(ms));
  return text;
}

char UserDecimalSeparator() {
  try {
    const char point = std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
    return point == ',' ? ',' : '.';
  } catch (const std::exception&) {
    return '.';  // a locale the environment names but the system lacks
  }
}
