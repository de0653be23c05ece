#include "tests/support/corpus.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace corvalin::testing {
namespace {

struct TempRoot {
  fs::path path;
  ~TempRoot() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

TempRoot& Root() {
  static TempRoot root;
  if (root.path.empty()) {
    std::string pattern = (fs::temp_directory_path() / "corvalin-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) root.path = buffer.data();
  }
  return root;
}

}  // namespace

std::string CorpusDir() {
  if (const char* env = std::getenv("CORVALIN_CORPUS")) {
    return fs::is_directory(env) ? std::string(env) : std::string();
  }
#ifdef CORVALIN_CORPUS_DIR
  std::error_code ec;
  if (fs::is_regular_file(fs::path(CORVALIN_CORPUS_DIR) / "MANIFEST.tsv", ec))
    return fs::weakly_canonical(CORVALIN_CORPUS_DIR).string();
#endif
  return {};
}

std::vector<CorpusFile> CorpusManifest() {
  std::vector<CorpusFile> files;
  const std::string dir = CorpusDir();
  if (dir.empty()) return files;
  std::ifstream manifest(fs::path(dir) / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // the heading
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    CorpusFile file;
    std::getline(fields, file.name, '\t');
    std::getline(fields, file.password, '\t');
    if (file.password == "-") file.password.clear();
    if (!file.name.empty()) files.push_back(file);
  }
  return files;
}

std::string TempDir() {
  static int counter = 0;
  fs::path dir = Root().path / std::to_string(++counter);
  fs::create_directories(dir);
  return dir.string();
}

std::string CopyOfCorpusFile(const std::string& relative) {
  fs::path from = fs::path(CorpusDir()) / relative;
  fs::path to = fs::path(TempDir()) / from.filename();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

}  // namespace corvalin::testing
