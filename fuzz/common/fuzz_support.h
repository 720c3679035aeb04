// Helpers shared by the fuzz targets: a private scratch file that each input
// is written to before a file reader runs on it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Creates (once per process) an empty private directory under /tmp and
// returns the path of `name` inside it; the directory and the files named
// here are removed at exit.
std::string scratch_path(const char *name);

// Replaces the contents of the file at `path` with the given bytes; aborts
// when that is impossible, since every later result would be meaningless.
void write_scratch(const std::string &path, const uint8_t *data, size_t size);

}  // namespace fuzz
