// Running a command (our tool, the independent readers) from a test.
#pragma once

#include <string>
#include <vector>

namespace corvalin::testing {

struct CommandResult {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `command` through the shell and collects both outputs.
CommandResult RunCommand(const std::string& command);

// A shell word for text.
std::string ShellQuote(const std::string& text);

// Text split at line ends.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace corvalin::testing
