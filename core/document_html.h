#pragma once

#include <initializer_list>
#include <string>
#include <vector>

struct JournalRecord;

// Pieces of the printable documents (certificates, the restore protocol) built as HTML.
namespace document_html {

// Text made safe for HTML; a line break becomes <br>.
std::string Escaped(const std::string& text);

// One table row of cells already made safe; header cells when `header`.
std::string Row(std::initializer_list<std::string> cells, bool header = false);
std::string Row(const std::vector<std::string>& cells, bool header = false);

// Fixed-point text with a plus sign on a value that does not print as zero.
std::string Signed(double value, int decimals);

// How the record's sensor was reached: the port, and the corrector with its identification.
std::string ConnectionText(const JournalRecord& r);

}  // namespace document_html
