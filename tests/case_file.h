// case_file.h: reads the data-driven case files of tests/cases/*.txt.
//
// File format: `=== name` starts a case; `--- template`, `--- data`, `--- expect`
// and `--- fails` start its sections. A section holds the lines up to the next
// marker, without the newline before that marker. A marker ending in
// ` escaped` has \n \r \t \v \f \\ and \xNN decoded in its section.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mervalt::test {

struct Case {
  std::string file;  // file name, for messages
  int line = 0;      // line of the `===` marker
  std::string title;
  std::string testName;
  std::string templateText;
  std::optional<std::string> data;
  std::optional<std::string> expect;
  bool fails = false;
  std::string formatError;  // the case is malformed; the test reports this
};

// The cases of one file's text, in order; `fileName` is kept for messages.
// A malformed case is still returned, with formatError saying what is wrong.
std::vector<Case> parseCaseFile(const std::string& fileName, const std::string& text);

}  // namespace mervalt::test
