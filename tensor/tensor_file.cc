// Tensor file writer and reader.
#include "tensor_file.h"

#include <cstdio>

#include "file_util.h"

Status write_tensor(const TrifocalTensor &t, const std::string &path) {
  OutputFile out;
  const Status opened = out.open(path);
  if (opened != Status::ok) return opened;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      std::fprintf(out.stream(), "%.20lf %.20lf %.20lf\n", t(i, j, 0), t(i, j, 1), t(i, j, 2));
  return out.commit();
}

Status read_tensor(TrifocalTensor *t, const std::string &path, int *numbers_read) {
  FILE *f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return Status::cannot_open;
  TrifocalTensor read{};
  for (int n = 0; n < 27; ++n) {
    const int got = std::fscanf(f, "%lf", &read.entry[n]);
    if (got == 1) continue;
    std::fclose(f);
    if (numbers_read != nullptr) *numbers_read = n;
    return got == EOF ? Status::too_few : Status::bad_input;
  }
  std::fclose(f);
  if (numbers_read != nullptr) *numbers_read = 27;
  *t = read;
  return Status::ok;
}
