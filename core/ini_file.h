#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Paths are UTF-8 text on every platform.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// The bytes of a Windows-style profile (INI) file, read and edited the way the Windows profile
// functions do it:
// - "[name]" starts a section; "key=value" is an entry of the section above it; a line whose
//   first non-blank character is ';' is a comment; entries before the first section belong to
//   none and are never found.
// - Section and key names compare without regard to ASCII letter case. Blanks and tabs around
//   names and values do not count, and a value wrapped in a pair of matching single or double
//   quotes reads without them.
// - The first section of a name wins, and within it the first entry of a key; a later section
//   of the same name is neither read nor written.
// - Line ends may be CRLF or LF; a UTF-8 byte-order mark at the start is skipped. Any bytes at
//   all parse without harm (NULs and other binary bytes are just characters of some line).
//
// Set changes only what it must: the value part of an existing entry, or one new line after
// the section's last entry, or a new section at the end of the file. Every other byte stays as
// it was. New lines use the file's own line end (the first one in it); a file that has none
// yet gets CRLF, so that Windows tools and Linux tools both read it.
class IniDocument {
 public:
  IniDocument() = default;
  explicit IniDocument(std::string bytes) : bytes_(std::move(bytes)) {}

  const std::string& Bytes() const { return bytes_; }

  // The entry's value, or nullopt when the section or the key is not there.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // False, and nothing changed, when a name is empty, has blanks around it or holds a
  // character that would change the file's structure (line ends; ']' in a section name; '='
  // in a key; a key starting with '[' or ';'), or when the value holds a line end.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::string bytes_;
};

// Every value of a document, found by one pass over its bytes, for a reader that asks for many
// keys: Get answers as IniDocument::Get would, without parsing the file again for each key.
class IniValues {
 public:
  explicit IniValues(const IniDocument& document);
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

 private:
  std::map<std::string, std::string> values_;  // "section\nkey", both in lower case
};

// Files larger than this are not taken for settings files (and never rewritten): a settings file
// holds a few hundred bytes, and anything this size is a damaged or foreign file.
inline constexpr std::uintmax_t kMaxIniFileBytes = 1024u * 1024u;

enum class IniFileState { kRead, kMissing, kUnreadable, kTooLarge };

// The whole file at `path`. A path that leads nowhere (the file or a folder on the way is
// missing) is kMissing; one that is not a regular file or cannot be opened or read is
// kUnreadable, one larger than kMaxIniFileBytes kTooLarge. `bytes` is empty unless kRead.
IniFileState ReadIniFile(const std::string& path, std::string& bytes);

// One value from the file at `path`; a missing or unreadable file reads as empty. Reading
// never creates anything.
std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key);

// Writes one entry into the file at `path` (creating the file, not its folder) and puts the
// whole new file in place before it returns. Writing a value equal to the one already there
// still rewrites the file. On failure the file is as it was and `reason` (when given) says
// why. A file that exists but cannot be read is not replaced, so nothing in it is lost.
bool WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value, std::string* reason = nullptr);

// Replaces the file at `path` with `bytes` so that a reader sees either the old or the new
// file, never a mix, even if the program or the machine stops half-way: the bytes go into a
// new file beside it, are flushed to the disk, and that file is renamed over the old one.
// A symbolic link at `path` is followed, so the link stays and its target is replaced; the
// old file's permission bits are kept. A file that is not writable (read-only) is refused. On
// failure nothing is left behind and the old file is untouched. `reason` is in Ukrainian, as the
// user reads it.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           std::string* reason = nullptr);

// Removes the temporary files ReplaceFileAtomically leaves beside `path` when the process is
// killed half-way (named after the file, the process and a counter), unless the process that
// made one is still running and may yet rename it. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& path);

// The system's reason for error number `error` (errno), in Ukrainian.
std::string SystemReasonText(int error);
