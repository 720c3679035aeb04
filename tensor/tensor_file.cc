// Tensor file writer and reader.
#include "tensor_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// File names are built without a length limit, so long base names are
// accommodated rather than truncated.
std::string tensor_file_name(const char *base) { return std::string(base) + ".TM"; }

[[noreturn]] void refuse(const char *format, const std::string &name, int number) {
  std::printf(format, name.c_str(), number);
  std::exit(1);
}

}  // namespace

void write_tensor(const TrifocalTensor &t, const char *base) {
  const std::string name = tensor_file_name(base);
  FILE *f = std::fopen(name.c_str(), "w");
  if (f == nullptr) {
    std::printf("can't open %s\n", name.c_str());
    std::exit(1);
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      std::fprintf(f, "%.20lf %.20lf %.20lf\n", t(i, j, 0), t(i, j, 1), t(i, j, 2));
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    // No half-written tensor file is left behind.
    std::remove(name.c_str());
    std::printf("can't write %s\n", name.c_str());
    std::exit(1);
  }
}

void read_tensor(TrifocalTensor *t, const char *base) {
  const std::string name = tensor_file_name(base);
  FILE *f = std::fopen(name.c_str(), "r");
  if (f == nullptr) {
    std::printf("can't open %s\n", name.c_str());
    std::exit(1);
  }
  TrifocalTensor read{};
  for (int n = 0; n < 27; ++n) {
    const int got = std::fscanf(f, "%lf", &read.entry[n]);
    if (got == 1) continue;
    std::fclose(f);
    if (got == EOF) refuse("can't read %s: only %d of the 27 tensor numbers\n", name, n);
    refuse("can't read %s: number %d is not a number\n", name, n + 1);
  }
  std::fclose(f);
  *t = read;
  for (int i = 0; i < 3; ++i)
    std::printf("Tensor %d %f %f %f\n", i, (*t)(i, 0, 0), (*t)(i, 0, 1), (*t)(i, 0, 2));
}
