// The command line of corvalin-db: its commands, their arguments and
// options, the usage texts, --help, help COMMAND and --version.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace corvalin::tool {

inline constexpr char kToolVersion[] = "7.00";

struct Invocation {
  std::string command;
  std::vector<std::string> arguments;         // after the command, in order
  std::map<std::string, std::string> options;  // "--name" -> value ("" for a switch)
  bool done = false;                           // help or version printed: nothing to run
};

// Reads the command line into `call`. False after a usage error, which has
// been told on standard error (what was wrong and the usage); the exit
// status is then 2. True with `done` set when --help, help or --version
// printed what was asked on standard output.
bool ParseCommandLine(int argc, char** argv, Invocation& call);

}  // namespace corvalin::tool
