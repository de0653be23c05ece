// Appends of real-looking data (RealRecord, bench_support.h), timed as a user meets them:
// `corvalin-db append` as a whole process, its source read included, and
// "Start Appending" offscreen (corvalin_gui_run_bench --once), both set
// against a bare pwrite loop of 64 bytes a record run in between.
//
//   corvalin_real_data_bench [--repeats N] [--scale S] [--formats jet4,ace12]
//                            [--cases 200k,100k+100k,1M,shuffled,5-indexes,repeated-keys,again]
//                            [--no-gui] [--check]
//                            [--dir DIR] [--compare DIR] [--engine]
//
// Cases, for each format:
//   200k         records 1..200,000 into an empty table
//   100k+100k    records 100,001..200,000 into a table holding 1..100,000
//   1M           records 1..1,000,000 into an empty table
//   shuffled     as 100k+100k, each file's records in an order of their own,
//                so that the primary key's entries land anywhere too
//   5-indexes    as 100k+100k, the table with three more indexes (Amount,
//                Stamp, Ref), whose keys land anywhere
//   repeated-keys
//                as 100k+100k, the table with two more indexes on
//                columns of few values (Qty, Flag), whose keys repeat
//                hundreds or thousands of times
//   again        records 1..100,000 into the table holding them already (a
//                merge run a second time): every record is refused as a
//                duplicate of the primary key. The tool only: the window
//                reports each refused record in a box of its own.
// --scale multiplies every count (0.1 for a quick look). The source and
// starting files are made once in DIR (the temporary folder's
// corvalin-real-data by default) and kept for later runs: delete DIR after
// changing the generator. Every repeat appends into a fresh copy of the
// starting file. The table gives medians over the repeats; --check runs
// `corvalin-db check` on the first repeat's result of every case.
// --compare DIR measures the programs of another build (DIR holds its
// corvalin-db and corvalin_gui_run_bench) in turn with these, repeat by
// repeat, on a line of their own marked "<": on a shared machine, figures
// taken minutes apart are not comparable, figures taken in turn are. The
// builds take the first turn of a repeat in turn; an even number of
// repeats gives each the first turn equally often.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "db/engine/error.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace corvalin::bench;

struct Case {
  std::string name;
  long base = 0;  // records the target holds before the append
  long rows = 0;  // records appended
  bool shuffled = false;      // each file's records in no order
  bool more_indexes = false;  // the table has MoreIndexes too
  bool repeated_keys = false;  // the table has RepeatedKeyIndexes too
  bool again = false;  // the source is the starting file: every record is refused
};

struct Format {
  std::string name;
  corvalin::engine::JetVersion version;
  std::string extension;
};

// A child process's figures.
struct Run {
  bool ok = false;
  double seconds = 0;      // wall time of the whole process
  double cpu = 0;          // user + system time
  double max_rss_mb = 0;   // peak resident memory
  double max_anon_mb = 0;  // peak of its own memory (RssAnon), mapped files left out
  int exit_code = -1;
  std::string out;         // what it printed on standard output
};

Run Spawn(const std::vector<std::string>& args, const fs::path& out_file) {
  Run run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  auto start = Clock::now();
  int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::cerr << "cannot start " << args[0] << ": " << std::strerror(failed) << "\n";
    return run;
  }
  // The process's memory, looked at every 20 ms while it runs: the peak
  // resident size (which also counts the pages of the mapped database file;
  // the rusage figure would count this process's size at the spawn) and its
  // own memory.
  const std::string status_path = "/proc/" + std::to_string(pid) + "/status";
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    std::ifstream in(status_path);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("RssAnon:", 0) == 0)
        run.max_anon_mb = std::max(run.max_anon_mb, std::atof(line.c_str() + 8) / 1024);
      else if (line.rfind("VmHWM:", 0) == 0)
        run.max_rss_mb = std::max(run.max_rss_mb, std::atof(line.c_str() + 6) / 1024);
    }
    ::usleep(20000);
  }
  run.seconds = Seconds(start);
  run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.ok = run.exit_code == 0;
  std::ifstream in(out_file);
  run.out.assign(std::istreambuf_iterator<char>(in), {});
  return run;
}

// The programs of one build.
struct Binaries {
  std::string label, tool, gui_bench;
  static Binaries In(const fs::path& dir, const std::string& label) {
    return {label, (dir / "corvalin-db").string(), (dir / "corvalin_gui_run_bench").string()};
  }
};

// One build's figures for one case, a value per repeat.
struct Figures {
  std::vector<double> tool_s, tool_cpu, tool_rss, gui_s, gui_cpu, gui_rss;
  double tool_anon = 0, gui_anon = 0;
  bool gui_process_cpu = false;
  std::string checked;
};

// Seconds for rows pwrites of 64 bytes (about a row's worth), one after the
// other: the floor for "the record is in the file when the call ends".
double PlainWrites(const fs::path& dir, long rows) {
  fs::path path = dir / "pwrite.raw";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  char bytes[64];
  std::memset(bytes, 0x5A, sizeof bytes);
  auto start = Clock::now();
  for (long i = 0; i < rows; ++i)
    if (::pwrite(fd, bytes, sizeof bytes, off_t(i) * off_t(sizeof bytes)) != ssize_t(sizeof bytes))
      break;
  double seconds = Seconds(start);
  ::close(fd);
  fs::remove(path);
  return seconds;
}

// The file of records first..first+count-1 of this format and the case's
// shape in dir, made unless it is there already.
std::string Made(const fs::path& dir, const Format& f, const Case& c, long first, long count) {
  const std::string shape = c.shuffled        ? "-shuffled"
                            : c.more_indexes  ? "-5-indexes"
                            : c.repeated_keys ? "-repeated-keys"
                                              : "";
  fs::path path = dir / ("records-" + f.name + shape + "-" + std::to_string(first) + "-" +
                         std::to_string(count) + f.extension);
  if (fs::exists(path)) return path.string();
  std::printf("  making %s ...\n", path.filename().c_str());
  std::fflush(stdout);
  fs::path partial = path.string() + ".part" + f.extension;
  fs::remove(partial);
  MakeRealDatabase(partial.string(), f.version, c.more_indexes, c.repeated_keys);
  if (count > 0) AddRealRecords(partial.string(), first, count, c.shuffled);
  fs::rename(partial, path);
  return path.string();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');) out.push_back(item);
  return out;
}

double ProcessCpu() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The records of source appended to target in this process, through the
// engine; the wall and CPU seconds, the close (a sync point) included.
std::pair<double, double> EngineAppend(const std::string& source, const std::string& target,
                                       bool atomic_saves) {
  const double cpu = ProcessCpu();
  const auto start = Clock::now();
  {
    auto from = corvalin::engine::Database::Open(source, {.password = "", .writable = false});
    auto def = from->ReadTableDef(kRealTable);
    corvalin::engine::OpenOptions options;
    options.writable = true;
    options.atomic_saves = atomic_saves;
    auto to = corvalin::engine::Database::Open(target, options);
    corvalin::engine::TableWriter writer(to, to->ReadTableDef(kRealTable));
    std::vector<Value> row;
    for (corvalin::engine::RowId id : from->ListRows(*def)) {
      from->ReadRow(*def, id, row);
      writer.Insert(row);
    }
  }
  return {Seconds(start), ProcessCpu() - cpu};
}

// The number in "added N, refused M".
long Added(const std::string& out) {
  auto at = out.rfind("added ");
  return at == std::string::npos ? -1 : std::atol(out.c_str() + at + 6);
}

long Refused(const std::string& out) {
  auto at = out.rfind("refused ");
  return at == std::string::npos ? -1 : std::atol(out.c_str() + at + 8);
}

}  // namespace

int main(int argc, char** argv) {
  int repeats = 3;
  double scale = 1;
  bool gui = true, check = false, engine = false;
  std::vector<std::string> format_names = {"jet4", "ace12"};
  std::vector<std::string> case_names = {"200k",     "100k+100k", "1M",
                                         "shuffled", "5-indexes", "repeated-keys", "again"};
  fs::path dir = fs::temp_directory_path() / "corvalin-real-data";
  fs::path compare;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--repeats") repeats = std::max(1, std::atoi(value().c_str()));
    else if (a == "--scale") scale = std::atof(value().c_str());
    else if (a == "--formats") format_names = Split(value());
    else if (a == "--cases") case_names = Split(value());
    else if (a == "--no-gui") gui = false;
    else if (a == "--check") check = true;
    else if (a == "--dir") dir = value();
    else if (a == "--compare") compare = value();
    else if (a == "--engine") engine = true;
    else {
      std::cerr << "usage: corvalin_real_data_bench [--repeats N] [--scale S] [--formats "
                   "jet4,ace12] [--cases 200k,100k+100k,1M,shuffled,5-indexes,repeated-keys,again] "
                   "[--no-gui] "
                   "[--check] [--dir DIR] "
                   "[--compare DIR] [--engine]\n";
      return 2;
    }
  }
  // The programs measured: those beside this one, and with --compare the
  // ones in DIR, whose lines are marked "<".
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  std::vector<Binaries> sets;
  if (!compare.empty()) sets.push_back(Binaries::In(compare, "<"));
  sets.push_back(Binaries::In(bin, ""));
  for (const Binaries& b : sets) {
    if (gui && !fs::exists(b.gui_bench)) {
      std::printf("(no %s: the GUI runs are left out)\n", b.gui_bench.c_str());
      gui = false;
    }
  }
  const std::vector<Format> all_formats = {
      {"jet4", corvalin::engine::JetVersion::kJet4, ".mdb"},
      {"ace12", corvalin::engine::JetVersion::kAce12, ".accdb"}};
  const std::vector<Case> all_cases = {{"200k", 0, 200000},
                                       {"100k+100k", 100000, 100000},
                                       {"1M", 0, 1000000},
                                       {"shuffled", 100000, 100000, true, false},
                                       {"5-indexes", 100000, 100000, false, true},
                                       {"repeated-keys", 100000, 100000, false, false, true},
                                       {"again", 100000, 100000, false, false, false, true}};
  fs::create_directories(dir);
  const fs::path out_file = dir / "child.out";

  // rows/s: by the wall time of the process (of the run for the window)
  // and by the process's CPU time; memory: the peak resident size, mapped
  // file pages included, and the peak of the process's own memory.
  std::printf("%-17s %8s | %-44s | %-44s\n", "", "", "corvalin-db append (whole process)",
              "\"Start Appending\" offscreen (the run)");
  std::printf("%-6s %-10s %8s | %9s %9s %8s %15s | %9s %9s %8s %15s%s\n", "format", "case",
              "rows", "rows/s", "cpu rows/s", "x pwrite", "RSS/own MB", "rows/s", "cpu rows/s",
              "x pwrite", "RSS/own MB", check ? "  check" : "");
  int status = 0;
  try {
    for (const Format& f : all_formats) {
      if (std::find(format_names.begin(), format_names.end(), f.name) == format_names.end())
        continue;
      for (Case c : all_cases) {
        if (std::find(case_names.begin(), case_names.end(), c.name) == case_names.end()) continue;
        c.base = long(double(c.base) * scale);
        c.rows = long(double(c.rows) * scale);
        const std::string start = Made(dir, f, c, 1, c.base);
        const std::string source = c.again ? start : Made(dir, f, c, c.base + 1, c.rows);
        const fs::path target = dir / ("target" + f.extension);
        std::vector<Figures> figures(sets.size());
        std::vector<double> base_s;
        for (int r = 0; r < repeats; ++r) {
          base_s.push_back(PlainWrites(dir, c.rows));
          // The sets take turns, so that a change in the machine's load
          // falls on all of them alike, and each repeat starts with the
          // next: the first run of a repeat (after the plain writes) meets
          // memory that the host may have taken back from the machine,
          // whose first touch costs more, the others memory the run before
          // just let go. A build set against itself ran its appends 1 to
          // 2.5% slower in the first turn of every repeat.
          for (size_t i = 0; i < sets.size(); ++i) {
            const size_t k = (i + size_t(r)) % sets.size();
            const Binaries& b = sets[k];
            Figures& fig = figures[k];
            fs::copy_file(start, target, fs::copy_options::overwrite_existing);
            Run run = Spawn({b.tool, "append", source, kRealTable, target.string(), kRealTable},
                            out_file);
            if (c.again ? run.exit_code != 3 || Added(run.out) != 0 || Refused(run.out) != c.rows
                        : !run.ok || Added(run.out) != c.rows) {
              std::cerr << b.label << f.name << " " << c.name
                        << (c.again ? ": the append did not refuse every record: "
                                    : ": the append did not add every record: ")
                        << run.out;
              status = 1;
            }
            fig.tool_s.push_back(run.seconds);
            fig.tool_cpu.push_back(run.cpu);
            fig.tool_rss.push_back(run.max_rss_mb);
            fig.tool_anon = std::max(fig.tool_anon, run.max_anon_mb);
            if (check && r == 0) {
              Run ok = Spawn({b.tool, "check", target.string()}, out_file);
              fig.checked = ok.ok ? "  ok" : "  FAILED";
              if (!ok.ok) {
                std::cerr << b.label << f.name << " " << c.name << ": check: " << ok.out;
                status = 1;
              }
            }
            if (!gui || c.again) continue;
            fs::copy_file(start, target, fs::copy_options::overwrite_existing);
            run = Spawn({b.gui_bench, "--once", source, kRealTable, target.string(), kRealTable},
                        out_file);
            auto at = run.out.find("run ");
            if (!run.ok || at == std::string::npos) {
              std::cerr << b.label << f.name << " " << c.name << ": the GUI run failed: "
                        << run.out;
              status = 1;
              continue;
            }
            fig.gui_s.push_back(std::atof(run.out.c_str() + at + 4));
            // A window bench that does not time its run's CPU: the whole
            // process's (start-up and table lists included), marked "*".
            auto cpu = run.out.find("cpu ");
            fig.gui_cpu.push_back(cpu != std::string::npos ? std::atof(run.out.c_str() + cpu + 4)
                                                           : run.cpu);
            fig.gui_process_cpu = fig.gui_process_cpu || cpu == std::string::npos;
            fig.gui_rss.push_back(run.max_rss_mb);
            fig.gui_anon = std::max(fig.gui_anon, run.max_anon_mb);
          }
        }
        fs::remove(target);
        const double base = Median(base_s);
        auto memory = [](double rss, double own) {
          return std::to_string(long(rss)) + "/" + std::to_string(long(own));
        };
        for (size_t k = 0; k < sets.size(); ++k) {
          const Figures& fig = figures[k];
          const double t = Median(fig.tool_s), g = Median(fig.gui_s);
          std::printf("%-6s %-10s %8ld | %9.0f %9.0f %8.1f %15s |",
                      (sets[k].label + f.name).c_str(), c.name.c_str(), c.rows, c.rows / t,
                      c.rows / Median(fig.tool_cpu), t / base,
                      memory(Median(fig.tool_rss), fig.tool_anon).c_str());
          if (g > 0)
            std::printf(" %9.0f %8.0f%s %8.1f %15s", c.rows / g, c.rows / Median(fig.gui_cpu),
                        fig.gui_process_cpu ? "*" : " ", g / base,
                        memory(Median(fig.gui_rss), fig.gui_anon).c_str());
          else
            std::printf(" %9s %9s %8s %15s", "-", "-", "-", "-");
          std::printf("%s\n", fig.checked.c_str());
        }
        if (engine && !c.again) {
          // Atomic saves on and off in turn, repeat by repeat.
          std::vector<double> on_s, on_cpu, off_s, off_cpu;
          for (int r = 0; r < repeats; ++r) {
            for (bool atomic : {true, false}) {
              fs::copy_file(start, target, fs::copy_options::overwrite_existing);
              auto [s, cpu] = EngineAppend(source, target.string(), atomic);
              (atomic ? on_s : off_s).push_back(s);
              (atomic ? on_cpu : off_cpu).push_back(cpu);
            }
          }
          fs::remove(target);
          std::printf("%-6s %-10s %8ld | engine, atomic saves on: %.0f rows/s, cpu %.0f rows/s; "
                      "off: %.0f rows/s, cpu %.0f rows/s\n",
                      f.name.c_str(), c.name.c_str(), c.rows, c.rows / Median(on_s),
                      c.rows / Median(on_cpu), c.rows / Median(off_s), c.rows / Median(off_cpu));
        }
        std::fflush(stdout);
      }
    }
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
  fs::remove(out_file);
  std::printf("medians of %d runs; x pwrite: the time against %s\n", repeats,
              "pwrites of 64 bytes a record in the same run");
  return status;
}
