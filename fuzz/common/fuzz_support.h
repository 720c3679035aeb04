// Helpers shared by the fuzz targets: a private scratch file that each input
// is written to before a file reader runs on it, quiet standard streams, and
// the exit trap for readers that end the process on bad input.
#pragma once
#include <csetjmp>
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

// Sends standard output to /dev/null: the readers report progress and
// refusals there, which would only slow the fuzzer down.
void silence_stdout();

// Exit trap. Some readers end the process with `exit` on a refused file,
// which is their documented behaviour in the programs. A target that links
// with -Wl,--wrap=exit (qor_add_fuzzer's EXIT_TRAP option) can arm the trap:
// while it is armed, a call of exit(status) jumps back to the armed point
// instead of ending the process, and the status is reported as an ordinary
// refusal. Outside the armed region exit behaves as usual, so libFuzzer's
// own exits work. The trap lives in exit_trap.cc, which only such targets
// link. Jumping skips the destructors of the frames in between:
// a reader driven this way must hold nothing on the heap at its exit calls.
struct ExitTrap {
  std::jmp_buf jump;
  bool armed = false;
  int status = 0;
};
ExitTrap &exit_trap();

}  // namespace fuzz

// Runs `statement` with the exit trap armed. Evaluates to true when the
// statement completed, false when it called exit (status in
// fuzz::exit_trap().status).
#define FUZZ_TRAP_EXIT(statement)                                   \
  ([&]() -> bool {                                                  \
    fuzz::ExitTrap &trap_ = fuzz::exit_trap();                      \
    if (setjmp(trap_.jump) != 0) {                                  \
      trap_.armed = false;                                          \
      return false;                                                 \
    }                                                               \
    trap_.armed = true;                                             \
    statement;                                                      \
    trap_.armed = false;                                            \
    return true;                                                    \
  }())
