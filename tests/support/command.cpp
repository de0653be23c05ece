#include "tests/support/command.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/corpus.h"

namespace corvalin::testing {

CommandResult RunCommand(const std::string& command) {
  static int serial = 0;
  const std::string err_path = TempDir() + "/stderr-" + std::to_string(++serial) + ".txt";
  CommandResult result;
  FILE* pipe = popen((command + " 2>" + ShellQuote(err_path)).c_str(), "r");
  if (!pipe) return result;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(err_path);
  std::stringstream text;
  text << err.rdbuf();
  result.err = text.str();
  return result;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace corvalin::testing
