#include "file_bytes.h"

#include <cstdio>

bool read_file_bytes(const char *name, std::vector<unsigned char> *bytes) {
  std::FILE *f = std::fopen(name, "rb");
  if (!f) return false;
  bytes->clear();
  unsigned char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
  std::fclose(f);
  return true;
}
