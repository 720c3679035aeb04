// libFuzzer target for read_tensor: any bytes as a tensor file. A refused
// file must come back as a status that names the refusal and leave the
// caller's tensor untouched; an accepted one fills all 27 entries.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tensor_file.h"

namespace {

char g_file[] = "/tmp/tXXXXXX.TM";

void remove_file() { unlink(g_file); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const int fd = mkstemps(g_file, 3);
  if (fd < 0) std::abort();
  close(fd);
  std::atexit(remove_file);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::write_scratch(g_file, data, size);
  TrifocalTensor t;
  for (double &e : t.entry) e = 12345.0;
  int numbers = -1;
  const Status status = read_tensor(&t, g_file, &numbers);
  if (status == Status::ok) return 0;
  if (status != Status::too_few && status != Status::bad_input) std::abort();
  if (numbers < 0 || numbers >= 27) std::abort();
  for (double e : t.entry)
    if (e != 12345.0) std::abort();  // a refused file leaves the tensor alone
  return 0;
}
