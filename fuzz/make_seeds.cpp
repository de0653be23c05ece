// Writes the fuzzer's made-up seed files into a folder: one small,
// well-formed database per format version (see seed_database.h).
//   corvalin_fuzz_seeds FOLDER
#include <cstdio>
#include <string>

#include "fuzz/seed_database.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvalin_fuzz_seeds FOLDER\n");
    return 2;
  }
  const struct {
    int version;
    const char* name;
  } kSeeds[] = {{0, "seed-jet3.mdb"}, {1, "seed-jet4.mdb"}, {2, "seed-ace12.accdb"},
                {3, "seed-ace14.accdb"}};
  for (const auto& seed : kSeeds) {
    const auto bytes = corvalin::seed::MakeSeedDatabase(seed.version);
    const std::string path = std::string(argv[1]) + "/" + seed.name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
      std::fprintf(stderr, "corvalin_fuzz_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
