// A file's bytes, for tests that compare a file before and after, or damage
// or replace it on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvalin::testing {

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Replaces the file's contents with bytes.
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes bytes over the file's own at offset `at`, leaving the rest.
void OverwriteFileBytes(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes);

}  // namespace corvalin::testing
