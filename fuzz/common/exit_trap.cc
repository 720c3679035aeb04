// The exit trap of fuzz_support.h. Only targets linked with -Wl,--wrap=exit
// include this file: the linker then sends every call of exit here and
// __real_exit names the C library's own.
#include <cstdlib>

#include "fuzz_support.h"

namespace fuzz {

ExitTrap &exit_trap() {
  static ExitTrap trap;
  return trap;
}

}  // namespace fuzz

extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status) {
  fuzz::ExitTrap &trap = fuzz::exit_trap();
  if (trap.armed) {
    trap.armed = false;
    trap.status = status;
    std::longjmp(trap.jump, 1);
  }
  __real_exit(status);
}
