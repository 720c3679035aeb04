// libFuzzer target for read_tensor: any bytes as a tensor file. A refused
// file ends the process with status 1 in ostrel; here the exit trap turns
// that into an ordinary refusal, which must have status 1 and leave the
// caller's tensor untouched.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tensor_file.h"

namespace {

// read_tensor builds "<base>.TM" in a std::string. The exit trap skips its
// destructor, so the name must fit the string's inline storage (15
// characters in libstdc++) to leave nothing on the heap: "/tmp/tXXXXXX" and
// ".TM" make exactly 15.
char g_file[] = "/tmp/tXXXXXX.TM";
std::string g_base;

void remove_file() { unlink(g_file); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const int fd = mkstemps(g_file, 3);
  if (fd < 0) std::abort();
  close(fd);
  std::atexit(remove_file);
  g_base.assign(g_file, std::strlen(g_file) - 3);
  fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::write_scratch(g_file, data, size);
  TrifocalTensor t;
  for (double &e : t.entry) e = 12345.0;
  const char *base = g_base.c_str();
  if (!FUZZ_TRAP_EXIT(read_tensor(&t, base))) {
    if (fuzz::exit_trap().status != 1) std::abort();
    for (double e : t.entry)
      if (e != 12345.0) std::abort();  // a refused file leaves the tensor alone
    return 0;
  }
  return 0;
}
