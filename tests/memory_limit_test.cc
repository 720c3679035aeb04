// The programs with a lowered address-space limit. The limit is swept in
// page steps from where the program can just start up to where it runs
// through; at every step the run must end in one of the described ways: the
// message of the allocation that failed and its exit status, the read error
// of a match file that could not be read into memory, or success. Never a
// signal, an uncaught exception or any other status. Skipped in sanitizer
// builds, whose programs reserve terabytes of address space.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cli_util.h"

namespace {

const unsigned long kPage = 4096;

struct Sweep {
  std::set<std::string> outcomes;  // described outcomes met, by name
  int runs = 0;
  bool finished = false;           // the program ran through at the top limit
};

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A run that never reached main: the dynamic loader could not map the
// program or its libraries. Nothing of the program ran.
bool never_started(const qortest::RunResult &r) {
  return r.status == 127 && r.out.empty() && r.err.find("TARVIK TOOL") == std::string::npos;
}

// Runs the program at limits from `low` to `high` (bytes) in page steps
// until one run succeeds. `classify` names the described outcome of a run,
// or returns "" for a run that ended in an undescribed way.
Sweep sweep(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
            unsigned long low, unsigned long high,
            const std::function<std::string(const qortest::RunResult &)> &classify) {
  Sweep s;
  for (unsigned long limit = low; limit <= high; limit += kPage) {
    const qortest::RunResult r = qortest::run_program(qortest::program_path(program), args, cwd, program, limit);
    ++s.runs;
    if (never_started(r)) continue;
    const std::string outcome = classify(r);
    EXPECT_NE(outcome, "") << program << " at " << limit << " bytes: status " << r.status
                           << "\nstdout tail: " << r.out.substr(r.out.size() > 200 ? r.out.size() - 200 : 0)
                           << "\nstderr: " << r.err;
    if (outcome == "") break;
    s.outcomes.insert(outcome);
    if (outcome == "success") {
      s.finished = true;
      break;
    }
  }
  return s;
}

class MemoryLimit : public testing::Test {
 protected:
  void SetUp() override {
    if (QOR_PROGRAMS_SANITIZED) GTEST_SKIP() << "sanitizer build: address-space limits do not apply";
  }
  qortest::TempDir dir_;
};

TEST_F(MemoryLimit, Pelmix) {
  // Reading a match file needs at least as much as the filter's work arrays
  // and the scores together (the file's text and three position tables
  // beside the records), so a limit stops the reading or nothing: the
  // filter's and the scores' messages are accepted but not expected.
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%d %d %d %d\n", i % 97 * 10, i / 97 * 10, i % 97 * 10 + 5 + i % 3,
                  i / 97 * 10 + i % 2);
    text += line;
  }
  qortest::write_file(dir_.file("p.txt"), text);
  const Sweep s = sweep("pelmix", {"-f", "p.txt"}, dir_.path(), 4ul << 20, 64ul << 20,
                        [](const qortest::RunResult &r) -> std::string {
                          if (r.status == 0 && r.out.find("Writing matches:") != std::string::npos)
                            return "success";
                          if (r.status != 2) return "";
                          if (ends_with(r.out, "Error reading file, no correspondences read!\n")) return "read";
                          if (ends_with(r.out, "Error allocating memory\n")) return "scores";
                          if (ends_with(r.out, "Error allocating memory in compute dispgrad\n")) return "filter";
                          return "";
                        });
  EXPECT_TRUE(s.finished);
  EXPECT_TRUE(s.outcomes.count("read"));
}

TEST_F(MemoryLimit, Ostrel) {
  bool ok = false;
  qortest::write_file(dir_.file("t.txt"), qortest::read_file(std::string(QOR_EXAMPLES) + "/scene/triplets.txt", &ok));
  ASSERT_TRUE(ok);
  const Sweep s = sweep("ostrel", {"-f", "t.txt", "-n", "30"}, dir_.path(), 4ul << 20, 64ul << 20,
                        [](const qortest::RunResult &r) -> std::string {
                          if (r.status == 0 && ends_with(r.out, "Writing 300 support matches t.txt.TM.matches\n"))
                            return "success";
                          if (r.status == 2 && ends_with(r.out, "Error reading file: t.txt")) return "read";
                          if (r.status == 2 && ends_with(r.out, "Error Allocating memory in compfund"))
                            return "flags";
                          // The numerical code's fatal error: three lines, status 1.
                          if (r.status == 1 && ends_with(r.err, "...now exiting to system...\n") &&
                              r.err.find("Numerical Recipes run-time error...\nallocation failure") !=
                                  std::string::npos)
                            return "numeric";
                          return "";
                        });
  EXPECT_TRUE(s.finished);
  EXPECT_TRUE(s.outcomes.count("read"));
}

TEST_F(MemoryLimit, Vandrel) {
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "img" + std::to_string(i) + ".jpg-img" + std::to_string(i + 1) + ".jpg-img" +
                             std::to_string(i + 2) + ".jpg.txt";
    bool ok = false;
    qortest::write_file(dir_.file(name), qortest::read_file(std::string(QOR_EXAMPLES) + "/sequence/" + name, &ok));
    ASSERT_TRUE(ok);
  }
  const Sweep s = sweep("vandrel", {"-p", "img", "-o", ".txt", "-s", "1", "-e", "6", "-f", "tracks"}, dir_.path(),
                        4ul << 20, 256ul << 20, [](const qortest::RunResult &r) -> std::string {
                          if (r.status == 0 && r.out.find("Histo index") != std::string::npos) return "success";
                          if (r.status == 2 && ends_with(r.err, "Out of memory\n")) return "memory";
                          // An input or output file whose stream cannot be set up.
                          if (r.status == 1 && ends_with(r.out, "Open failed\n")) return "open";
                          return "";
                        });
  EXPECT_TRUE(s.finished);
  EXPECT_TRUE(s.outcomes.count("memory"));
}

}  // namespace
