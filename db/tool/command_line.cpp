#include "db/tool/command_line.h"

#include <cstdio>
#include <cstring>

namespace corvalin::tool {
namespace {

struct Option {
  const char* name;
  bool takes_value;
};

struct Command {
  const char* name;
  std::vector<const char*> arguments;  // names of the required arguments
  std::vector<Option> options;
  std::vector<const char*> required_options;
  const char* synopsis;  // after "corvalin-db NAME "
  const char* description;
};

const Option kPassword{"--password", true};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"tables", {"FILE"}, {kPassword}, {}, "FILE [--password P]",
       "Prints the user tables of FILE, one a line.\n"},
      {"export", {"FILE", "TABLE"}, {kPassword, {"--csv", false}}, {},
       "FILE TABLE [--password P] [--csv]",
       "Prints every row of TABLE. As JSON (the default): first a line with the\n"
       "array of column names, then one array per row. With --csv: RFC 4180 text\n"
       "with a header line, for spreadsheets; Null is an empty field.\n"},
      {"check", {"FILE"}, {kPassword}, {}, "FILE [--password P]",
       "Checks the structure of FILE: page owners, usage maps, row counts and\n"
       "indexes. Prints each problem on a line; exit status 0 when there is none,\n"
       "1 otherwise.\n"},
      {"append", {"SRC", "TABLE", "DST", "TABLE"},
       {{"--src-password", true}, {"--dst-password", true}}, {},
       "SRC TABLE DST TABLE [--src-password P] [--dst-password P]",
       "Adds every record of SRC's table to DST's table, column by column by\n"
       "position. Refused records are reported on standard error; the last line\n"
       "says \"added N, refused M\". On a terminal, standard error shows the\n"
       "progress. Exit status: 0 when every record was added, 3 when some were\n"
       "refused, 1 when an error stopped the run, 2 for a usage error.\n"},
      {"create", {"FILE"},
       {kPassword, {"--format", true}, {"--date", true}, {"--schema", true}},
       {"--format", "--schema"},
       "FILE --format jet4|ace12|ace16 [--password P]\n"
       "                          [--date YYYY-MM-DDTHH:MM:SS] --schema SCHEMA.json",
       "Makes a new database FILE with the tables and rows of SCHEMA.json. The\n"
       "same schema with the same --date gives the same bytes.\n"},
      {"help", {}, {}, {}, "[COMMAND]", "Prints the usage of every command, or of one.\n"},
  };
  return commands;
}

const Command* Find(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

std::string UsageLine(const Command& c, bool first) {
  return std::string(first ? "usage: " : "       ") + "corvalin-db " + c.name + " " + c.synopsis +
         "\n";
}

std::string Usage() {
  std::string out;
  bool first = true;
  for (const Command& c : Commands()) {
    out += UsageLine(c, first);
    first = false;
  }
  out += "       corvalin-db --version\n"
         "Try 'corvalin-db help COMMAND' for what a command does.\n";
  return out;
}

std::string Help(const Command& c) { return UsageLine(c, true) + "\n" + c.description; }

bool UsageError(const std::string& what, const Command* command) {
  std::fprintf(stderr, "corvalin-db: %s\n%s", what.c_str(),
               (command ? UsageLine(*command, true) : Usage()).c_str());
  return false;
}

bool Print(const std::string& text, Invocation& call) {
  std::fputs(text.c_str(), stdout);
  call.done = true;
  return true;
}

}  // namespace

// Every option of every command; whether it takes a value does not depend
// on the command, so the words can be read before the command is known.
const Option* FindOption(const std::string& name) {
  for (const Command& c : Commands())
    for (const Option& o : c.options)
      if (name == o.name) return &o;
  return nullptr;
}

bool ParseCommandLine(int argc, char** argv, Invocation& call) {
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  bool help = false, version = false, options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      help = true;
      continue;
    }
    if (arg == "--version") {
      version = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const Option* option = FindOption(name);
    if (!option) return UsageError("unknown option '" + name + "'", nullptr);
    std::string value;
    if (equals != std::string::npos) {
      if (!option->takes_value) return UsageError(name + " takes no value", nullptr);
      value = arg.substr(equals + 1);
    } else if (option->takes_value) {
      if (i + 1 >= argc) return UsageError(name + " needs a value", nullptr);
      value = argv[++i];
    }
    options[name] = value;
  }
  if (version) {
    if (!words.empty() || !options.empty() || help)
      return UsageError("--version takes nothing else", nullptr);
    return Print("corvalin-db " + std::string(kToolVersion) + "\n", call);
  }
  if (words.empty()) {
    if (help) return Print(Usage(), call);
    return UsageError("no command given", nullptr);
  }
  const Command* command = Find(words[0]);
  if (!command) return UsageError("unknown command '" + words[0] + "'", nullptr);
  if (help) return Print(Help(*command), call);
  if (command->name == std::string("help")) {
    if (words.size() == 1) return Print(Usage(), call);
    const Command* about = Find(words[1]);
    if (!about) return UsageError("unknown command '" + words[1] + "'", nullptr);
    if (words.size() > 2) return UsageError("help takes one command", command);
    return Print(Help(*about), call);
  }
  call.command = command->name;
  for (const auto& [name, value] : options) {
    bool allowed = false;
    for (const Option& o : command->options) allowed = allowed || name == o.name;
    if (!allowed) return UsageError(call.command + " takes no option " + name, command);
    // An empty password means none, as in the program, except when a new
    // database is to get one.
    if (FindOption(name)->takes_value && value.empty() &&
        (name != "--password" || call.command == "create"))
      return UsageError(name + " needs a value", command);
  }
  for (const char* required : command->required_options)
    if (!options.count(required)) return UsageError(call.command + " needs " + required, command);
  call.options = std::move(options);

  call.arguments.assign(words.begin() + 1, words.end());
  const size_t wanted = command->arguments.size();
  if (call.arguments.size() < wanted) {
    std::string missing;
    for (size_t i = call.arguments.size(); i < wanted; ++i)
      missing += std::string(missing.empty() ? "" : " ") + command->arguments[i];
    return UsageError(call.command + " needs " + missing, command);
  }
  if (call.arguments.size() > wanted) {
    return UsageError("too many arguments for " + call.command + ": '" +
                          call.arguments[wanted] + "'",
                      command);
  }
  return true;
}

}  // namespace corvalin::tool
