// The consistency check of a database file's structure (corvalin-db check).
#pragma once

#include <string>
#include <vector>

#include "db/engine/format/database.h"

namespace corvalin::engine {

// Everything wrong with the file's structure, one sentence each; empty when
// it is consistent:
//  1. every page is claimed at most once: header, global usage map, table
//     definitions, data pages, usage map pages, index pages, long values;
//  2. no page in use is marked free in the global usage map of page 1;
//  3. every usage map is well formed and lists only its table's data pages
//     (an index's map: exactly its b-tree's pages), and a data page of a
//     table that its map does not list is marked free;
//  4. each user table's recorded row count equals its live rows;
//  5. every index holds exactly one entry per live row (none for rows an
//     index that ignores Nulls leaves out), in key order, each key equal to
//     the key of its row; a unique index holds no key twice.
// Engine errors met on the way are reported as problems, not thrown.
std::vector<std::string> CheckDatabase(const Database& db);

}  // namespace corvalin::engine
