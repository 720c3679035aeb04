#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace numtest {

namespace {
std::string read_all(std::FILE *f) {
  std::string text;
  std::rewind(f);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  return text;
}
}  // namespace

ChildResult run_in_child(const std::function<void()> &body) {
  ChildResult result;
  std::FILE *out = std::tmpfile();
  std::FILE *err = std::tmpfile();
  if (out == nullptr || err == nullptr) return result;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(0);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  }
  result.out = read_all(out);
  result.err = read_all(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}

std::uint64_t test_seed(const char *test_name, std::uint64_t fallback) {
  std::uint64_t seed = fallback;
  if (const char *text = std::getenv("NUMERIC_TEST_SEED")) seed = std::strtoull(text, nullptr, 10);
  std::printf("%s: seed %llu (set NUMERIC_TEST_SEED to repeat)\n", test_name,
              static_cast<unsigned long long>(seed));
  return seed;
}

double uniform(std::mt19937_64 &rng, double lo, double hi) {
  // 53 random bits mapped onto [lo, hi): the same numbers with every
  // standard library.
  const double unit = static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0);
  return lo + (hi - lo) * unit;
}

int uniform_int(std::mt19937_64 &rng, int lo, int hi) {
  return lo + static_cast<int>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
}

double max_abs(const Matrix &a) {
  double big = 0.0;
  for (int i = 1; i <= a.rows(); ++i)
    for (int j = 1; j <= a.cols(); ++j) big = std::fmax(big, std::fabs(a[i][j]));
  return big;
}

double orthonormality_error(const Matrix &q) {
  double worst = 0.0;
  for (int i = 1; i <= q.cols(); ++i) {
    for (int j = 1; j <= q.cols(); ++j) {
      double dot = 0.0;
      for (int k = 1; k <= q.rows(); ++k) dot += q[k][i] * q[k][j];
      worst = std::fmax(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
    }
  }
  return worst;
}

}  // namespace numtest
