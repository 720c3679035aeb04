// Helpers for command-line tests: run a built program with arguments in a
// working directory, capture its standard output, standard error and exit
// status, and read or write whole files byte for byte.
#pragma once
#include <string>
#include <vector>

namespace qortest {

struct RunResult {
  std::string out;   // everything written to standard output
  std::string err;   // everything written to standard error
  int status = -1;   // exit status, or 128 + signal number when killed
};

// Runs `program` (a path) with `args` (argv[1..]) in directory `cwd`.
// argv[0] is `argv0` when given, else `program`. Standard input is /dev/null.
// `memory_limit`, when non-zero, caps the child's address space (bytes).
// `kill_after_us`, when non-zero, sends the child SIGKILL once that many
// microseconds have passed since it was started (status 137 then, unless it
// ended before).
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &cwd, const std::string &argv0 = std::string(),
                      unsigned long memory_limit = 0, long kill_after_us = 0);

// Path of a built program of this project (build/bin/<name>).
std::string program_path(const std::string &name);

// Whole-file helpers; read_file returns "" and sets *ok = false when missing.
std::string read_file(const std::string &path, bool *ok = nullptr);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);

// A fresh empty directory under the system temporary folder, removed with
// everything in it when the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace qortest
