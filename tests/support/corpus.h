// Access-made files for tests: ../shared/corpus when it is present.
#pragma once

#include <string>
#include <vector>

namespace corvalin::testing {

// The corpus folder, or empty when it is absent (tests then skip).
std::string CorpusDir();

// The corpus files MANIFEST.tsv lists, each with its password (empty for
// none); empty when the corpus is absent.
struct CorpusFile {
  std::string name;  // relative to the corpus folder
  std::string password;
};
std::vector<CorpusFile> CorpusManifest();

// A fresh temporary folder for one test, removed at process exit.
std::string TempDir();

// Copies a corpus file (relative to the corpus folder) into a temporary
// folder and returns the copy's path: tests never write to the corpus.
std::string CopyOfCorpusFile(const std::string& relative);

}  // namespace corvalin::testing

// Skips the current GoogleTest test when the corpus is absent.
#define CORVALIN_REQUIRE_CORPUS()                                   \
  do {                                                              \
    if (::corvalin::testing::CorpusDir().empty())                   \
      GTEST_SKIP() << "the Access-made sample corpus is not here";  \
  } while (0)
