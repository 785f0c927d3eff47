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
  const Line& line = lines[*index];
  if (line.equals == std::string::npos) {
    return std::string();
  }
  std::string_view value =
      Trim(std::string_view(bytes_).substr(line.equals + 1, line.end - line.equals - 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
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
  if (error || size > kMaxIniFileBytes) {
    return IniFileState::kUnreadable;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return IniFileState::kUnreadable;
  }
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || content.size() > kMaxIniFileBytes) {
    return IniFileState::kUnreadable;
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
  if (ReadIniFile(path, bytes) == IniFileState::kUnreadable) {
    SetReason(reason, "the file exists but cannot be read");
    return false;
  }
  IniDocument document(std::move(bytes));
  if (!document.Set(section, key, value)) {
    SetReason(reason, "invalid section, key or value");
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
