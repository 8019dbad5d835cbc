// A small RFC 4180 reader for the tests: files are read back the way a spreadsheet would.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zrv::test {

using CsvTable = std::vector<std::vector<std::string>>;

// Parses `text` strictly: CRLF line ends, quoted fields with doubled quotes. Sets `ok` to false
// on anything malformed (a bare quote, a lone CR or LF outside quotes, a missing final CRLF).
inline CsvTable ParseCsv(std::string_view text, bool& ok) {
  ok = true;
  CsvTable rows;
  std::vector<std::string> row;
  std::string field;
  std::size_t i = 0;
  bool fieldStarted = false;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"' && field.empty() && !fieldStarted) {
      fieldStarted = true;
      ++i;
      for (;;) {
        if (i >= text.size()) {
          ok = false;
          return rows;
        }
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.push_back(text[i++]);
      }
      if (i < text.size() && text[i] != ',' && text[i] != '\r') {
        ok = false;
        return rows;
      }
      continue;
    }
    if (c == ',') {
      row.push_back(field);
      field.clear();
      fieldStarted = false;
      ++i;
    } else if (c == '\r') {
      if (i + 1 >= text.size() || text[i + 1] != '\n') {
        ok = false;
        return rows;
      }
      row.push_back(field);
      rows.push_back(row);
      row.clear();
      field.clear();
      fieldStarted = false;
      i += 2;
    } else if (c == '\n' || c == '"') {
      ok = false;
      return rows;
    } else {
      field.push_back(c);
      fieldStarted = true;
      ++i;
    }
  }
  if (!row.empty() || !field.empty()) {
    ok = false;  // no CRLF after the last row
  }
  return rows;
}

}  // namespace zrv::test
