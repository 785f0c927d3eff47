#include "core/ini_file.h"

#include "core/ini_file_platform.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// ---------------------------------------------------------------------------------------------
// Parsing

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

enum class LineKind { kOther, kSection, kEntry };

// One line of the file; offsets into the document's bytes.
struct Line {
  size_t begin = 0;  // first byte (after a byte-order mark on the first line)
  size_t end = 0;    // one past the last byte before the line end
  size_t next = 0;   // first byte of the next line; equals `end` when the file ends unterminated
  LineKind kind = LineKind::kOther;
  std::string_view name;              // section name or key, trimmed
  size_t name_end = 0;                // one past the key's last character
  size_t equals = std::string::npos;  // offset of '=' in an entry
};

std::vector<Line> Parse(std::string_view bytes) {
  std::vector<Line> lines;
  size_t pos = bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
  while (pos < bytes.size()) {
    Line line;
    line.begin = pos;
    const size_t newline = bytes.find('\n', pos);
    if (newline == std::string_view::npos) {
      line.end = bytes.size();
      line.next = bytes.size();
    } else {
      line.end = newline > pos && bytes[newline - 1] == '\r' ? newline - 1 : newline;
      line.next = newline + 1;
    }
    const std::string_view content = bytes.substr(line.begin, line.end - line.begin);
    const std::string_view trimmed = Trim(content);
    if (!trimmed.empty() && trimmed.front() == '[') {
      line.kind = LineKind::kSection;
      std::string_view inner = trimmed.substr(1);
      inner = inner.substr(0, inner.find(']'));
      line.name = Trim(inner);
    } else if (!trimmed.empty() && trimmed.front() != ';') {
      line.kind = LineKind::kEntry;
      const size_t equals = content.find('=');
      const std::string_view key = Trim(content.substr(0, equals));
      line.name = key;
      line.name_end = static_cast<size_t>(key.data() - bytes.data()) + key.size();
      if (equals != std::string_view::npos) {
        line.equals = line.begin + equals;
      }
    }
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

// Index range [first, last) of a section's own lines (after its header), or nullopt.
struct SectionSpan {
  size_t header = 0;
  size_t first = 0;
  size_t last = 0;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view name) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::kSection && SameName(lines[i].name, name)) {
      SectionSpan span{i, i + 1, i + 1};
      while (span.last < lines.size() && lines[span.last].kind != LineKind::kSection) {
        ++span.last;
      }
      return span;
    }
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, const SectionSpan& span,
                              std::string_view key) {
  for (size_t i = span.first; i < span.last; ++i) {
    if (lines[i].kind == LineKind::kEntry && SameName(lines[i].name, key)) {
      return i;
    }
  }
  return std::nullopt;
}

std::string_view LineEndOf(std::string_view bytes) {
  const size_t newline = bytes.find('\n');
  if (newline == std::string_view::npos) {
    return "\r\n";
  }
  return newline > 0 && bytes[newline - 1] == '\r' ? "\r\n" : "\n";
}

bool HasAny(std::string_view text, std::string_view characters) {
  return text.find_first_of(characters) != std::string_view::npos;
}

bool ValidName(std::string_view name) {
  return !name.empty() && Trim(name) == name && !HasAny(name, std::string_view("\r\n\0", 3));
}

}  // namespace

namespace {

std::string ValueOf(std::string_view bytes, const Line& line) {
  if (line.equals == std::string::npos) {
    return std::string();
  }
  std::string_view value = Trim(bytes.substr(line.equals + 1, line.end - line.equals - 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string LowerName(std::string_view section, std::string_view key) {
  std::string name;
  name.reserve(section.size() + key.size() + 1);
  for (char c : section) {
    name += AsciiLower(c);
  }
  name += '\n';
  for (char c : key) {
    name += AsciiLower(c);
  }
  return name;
}

}  // namespace

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  const std::vector<Line> lines = Parse(bytes_);
  const auto span = FindSection(lines, section);
  if (!span) {
    return std::nullopt;
  }
  const auto index = FindKey(lines, *span, key);
  if (!index) {
    return std::nullopt;
  }
  return ValueOf(bytes_, lines[*index]);
}

IniValues::IniValues(const IniDocument& document) {
  const std::string_view bytes = document.Bytes();
  std::map<std::string, bool> sections_seen;  // lower-case name; only the first one counts
  bool in_first = false;
  std::string section;
  for (const Line& line : Parse(bytes)) {
    if (line.kind == LineKind::kSection) {
      section = LowerName(line.name, "");
      in_first = sections_seen.emplace(section, true).second;
    } else if (line.kind == LineKind::kEntry && in_first) {
      values_.emplace(section + LowerName("", line.name).substr(1), ValueOf(bytes, line));
    }
  }
}

std::optional<std::string> IniValues::Get(std::string_view section, std::string_view key) const {
  const auto found = values_.find(LowerName(section, key));
  if (found == values_.end()) {
    return std::nullopt;
  }
  return found->second;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!ValidName(section) || HasAny(section, "]") || !ValidName(key) || HasAny(key, "=") ||
      key.front() == '[' || key.front() == ';' || HasAny(value, "\r\n")) {
    return false;
  }
  const std::vector<Line> lines = Parse(bytes_);
  const std::string line_end(LineEndOf(bytes_));
  const auto span = FindSection(lines, section);

  if (span) {
    if (const auto index = FindKey(lines, *span, key)) {
      const Line& line = lines[*index];
      if (line.equals == std::string::npos) {
        std::string assignment(1, '=');
        assignment.append(value);
        bytes_.replace(line.name_end, line.end - line.name_end, assignment);
      } else {
        // Keep the key and whatever spacing follows the '=' as the file has them.
        size_t value_begin = line.equals + 1;
        while (value_begin < line.end &&
               (bytes_[value_begin] == ' ' || bytes_[value_begin] == '\t')) {
          ++value_begin;
        }
        bytes_.replace(value_begin, line.end - value_begin, value);
      }
      return true;
    }
    // After the section's last entry, so comments and blank lines before the next section
    // stay with that section.
    size_t after = span->header;
    for (size_t i = span->first; i < span->last; ++i) {
      if (lines[i].kind == LineKind::kEntry) {
        after = i;
      }
    }
    const Line& line = lines[after];
    std::string insertion;
    if (line.next == line.end) {
      insertion += line_end;  // the file ended without a line end
    }
    insertion.append(key).append("=").append(value).append(line_end);
    bytes_.insert(line.next, insertion);
    return true;
  }

  std::string addition;
  if (!bytes_.empty() && bytes_.back() != '\n' && bytes_ != kUtf8Bom) {
    addition += line_end;
  }
  if (!lines.empty() && !Trim(std::string_view(bytes_).substr(
                                  lines.back().begin, lines.back().end - lines.back().begin))
                             .empty()) {
    addition += line_end;  // a blank line between sections
  }
  addition.append("[").append(section).append("]").append(line_end);
  addition.append(key).append("=").append(value).append(line_end);
  bytes_ += addition;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Files

namespace {

void SetReason(std::string* reason, const std::string& text) {
  if (reason) {
    *reason = text;
  }
}

}  // namespace

IniFileState ReadIniFile(const std::string& path, std::string& bytes) try {
  bytes.clear();
  const fs::path file = PathFromUtf8(path);
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (status.type() == fs::file_type::not_found) {
    return IniFileState::kMissing;
  }
  if (error || status.type() != fs::file_type::regular) {
    return IniFileState::kUnreadable;
  }
  const std::uintmax_t size = fs::file_size(file, error);
  if (error) {
    return IniFileState::kUnreadable;
  }
  if (size > kMaxIniFileBytes) {
    return IniFileState::kTooLarge;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return IniFileState::kUnreadable;
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    return IniFileState::kUnreadable;
  }
  if (content.size() > kMaxIniFileBytes) {
    return IniFileState::kTooLarge;  // it grew while being read
  }
  bytes = std::move(content);
  return IniFileState::kRead;
} catch (const std::exception&) {
  // A path that cannot be expressed on this platform.
  bytes.clear();
  return IniFileState::kUnreadable;
}

std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key) {
  std::string bytes;
  ReadIniFile(path, bytes);
  return IniDocument(std::move(bytes)).Get(section, key);
}

bool WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value, std::string* reason) try {
  std::string bytes;
  const IniFileState state = ReadIniFile(path, bytes);
  if (state == IniFileState::kUnreadable) {
    SetReason(reason, "файл є, але його не вдається прочитати");
    return false;
  }
  if (state == IniFileState::kTooLarge) {
    SetReason(reason, "файл завеликий для файлу налаштувань");
    return false;
  }
  IniDocument document(std::move(bytes));
  if (!document.Set(section, key, value)) {
    SetReason(reason, "неприпустима назва розділу, ключа чи значення");
    return false;
  }
  return ReplaceFileAtomically(path, document.Bytes(), reason);
} catch (const std::exception& exception) {
  SetReason(reason, exception.what());
  return false;
}

namespace {

// Where the bytes must really go: a symbolic link is followed to its final target.
fs::path FinalTarget(fs::path path) {
  std::error_code error;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, error)); ++hops) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) {
      break;
    }
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           std::string* reason) try {
  std::string why;
  if (ReplaceTargetAtomically(FinalTarget(PathFromUtf8(path)), bytes, why)) {
    return true;
  }
  SetReason(reason, why);
  return false;
} catch (const std::exception& exception) {
  SetReason(reason, exception.what());
  return false;
}

int RemoveStaleTemporaries(const std::string& path) try {
  const fs::path file = PathFromUtf8(path);
  const std::string prefix = Utf8FromPath(file.filename()) + ".tmp-";
  std::error_code error;
  int removed = 0;
  for (fs::directory_iterator
           it(file.parent_path().empty() ? fs::path(".") : file.parent_path(), error),
       end;
       !error && it != end; it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    // Ours only: "<pid>-<counter>", digits both.
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const size_t dash = rest.find('-');
    const auto digits = [](std::string_view text) {
      return !text.empty() && text.size() <= 10 &&
             text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (dash == std::string_view::npos || !digits(rest.substr(0, dash)) ||
        !digits(rest.substr(dash + 1))) {
      continue;
    }
    const unsigned long owner = std::stoul(std::string(rest.substr(0, dash)));
    std::error_code type_error;
    if (!it->is_regular_file(type_error) || ProcessIsRunning(owner)) {
      continue;
    }
    std::error_code remove_error;
    if (fs::remove(it->path(), remove_error)) {
      ++removed;
    }
  }
  return removed;
} catch (const std::exception&) {
  return 0;
}
