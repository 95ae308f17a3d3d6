// report_json.cpp: JSON objects for findings and data paths.
#include "check/report_json.h"

#include <cstdio>

#include "data/json_text.h"

namespace mervalt::check {
namespace {

void appendField(std::string& out, std::string_view key, std::string_view text) {
  out += ",\"";
  out += key;
  out += "\":";
  appendJsonString(out, text);
}

void appendNumber(std::string& out, std::string_view key, uint32_t n) {
  out += ",\"";
  out += key;
  out += "\":";
  out += std::to_string(n);
}

// The opening brace and, when given, the file: every object starts alike.
void openObject(std::string& out, std::string_view file) {
  out += '{';
  if (!file.empty()) appendField(out, "file", file);
}

void closeObject(std::string& out, std::size_t start) {
  if (out[start + 1] == ',') out.erase(start + 1, 1);
  out += '}';
}

}  // namespace

void appendFindingJson(std::string& out, const Finding& f, std::string_view file) {
  std::size_t start = out.size();
  openObject(out, file);
  appendNumber(out, "line", f.at.line);
  appendNumber(out, "column", f.at.column);
  appendField(out, "severity", severityName(severityOf(f.code)));
  appendField(out, "code", codeName(f.code));
  appendField(out, "message", f.message);
  if (!f.partial.empty()) appendField(out, "partial", f.partial);
  if (!f.suggestion.empty()) appendField(out, "suggestion", f.suggestion);
  closeObject(out, start);
}

void appendPathJson(std::string& out, const DataPath& p, std::string_view file) {
  std::size_t start = out.size();
  openObject(out, file);
  appendField(out, "path", p.path);
  appendNumber(out, "line", p.at.line);
  appendNumber(out, "column", p.at.column);
  if (!p.partial.empty()) appendField(out, "partial", p.partial);
  closeObject(out, start);
}

std::string jsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += items[i];
  }
  return out + "]";
}

}  // namespace mervalt::check
