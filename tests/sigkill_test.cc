// Outputs survive a SIGKILL at any moment: each program is run to the end
// once to learn its outputs and its run time, then run again and again on
// the same inputs with SIGKILL sent at random moments of the run, with an
// earlier version of every output in place. After each killed run every
// output must be the earlier file or the new complete one, never a part of
// either and never missing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"
#include "qorimage.h"

namespace {

using qortest::read_file;
using qortest::RunResult;
using qortest::TempDir;

struct Case {
  std::string program;
  std::vector<std::string> args;
  std::vector<std::string> outputs;
};

// A textured picture large enough that decoding, drawing and encoding take
// a good part of the run.
void write_large_jpeg(const std::string &path, unsigned seed) {
  QORImage *image = image_create(2400, 1800, QOR_RGB);
  ASSERT_NE(image, nullptr);
  std::mt19937 rng(seed);
  const size_t n = static_cast<size_t>(image->width) * image->height * 3;
  for (size_t i = 0; i < n; ++i) image->pixels[i] = static_cast<unsigned char>(rng() % 256);
  ASSERT_EQ(image_write(path.c_str(), image, 90), Status::ok);
  image_free(image);
}

// Many pairs: the examples' pairs shifted by whole pixels, so that the
// filtered output is large.
std::string large_pair_file() {
  const std::string pairs = read_file(std::string(QOR_EXAMPLES) + "/scene/pairs.txt");
  std::string text;
  for (int copy = 0; copy < 12; ++copy) {
    size_t at = 0;
    while (at < pairs.size()) {
      size_t end = pairs.find('\n', at);
      if (end == std::string::npos) end = pairs.size();
      double x1, y1, x2, y2;
      if (std::sscanf(pairs.c_str() + at, "%lf %lf %lf %lf", &x1, &y1, &x2, &y2) == 4) {
        char line[128];
        std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f\n", x1 + copy, y1 + copy, x2 + copy,
                      y2 + copy);
        text += line;
      }
      at = end + 1;
    }
  }
  return text;
}

void copy_in(const TempDir &dir, const std::string &from, const std::string &name) {
  qortest::write_file(dir.file(name), read_file(from));
}

void check_outputs_survive_kills(const TempDir &dir, const Case &c, unsigned seed) {
  const std::string program = qortest::program_path(c.program);
  const auto start = std::chrono::steady_clock::now();
  const RunResult full = qortest::run_program(program, c.args, dir.path());
  const long run_us = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
  ASSERT_EQ(full.status, 0) << full.err;
  std::vector<std::string> complete;
  for (const std::string &name : c.outputs) {
    bool ok = false;
    complete.push_back(read_file(dir.file(name), &ok));
    ASSERT_TRUE(ok) << name;
  }
  std::mt19937 rng(seed);
  int killed = 0;
  for (int trial = 0; trial < 24; ++trial) {
    for (const std::string &name : c.outputs)
      qortest::write_file(dir.file(name), "earlier " + name + "\n");
    // Half the moments anywhere in the run, half in its last fifth, where
    // the outputs are written.
    const double from = trial % 2 ? 0.8 : 0.0;
    const double at = from + (1.0 - from) * std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    const long kill_us = 1 + static_cast<long>(at * run_us);
    const RunResult r = qortest::run_program(program, c.args, dir.path(), "", 0, kill_us);
    if (r.status == 137) ++killed;
    for (size_t k = 0; k < c.outputs.size(); ++k) {
      bool ok = false;
      const std::string now = read_file(dir.file(c.outputs[k]), &ok);
      EXPECT_TRUE(ok) << c.outputs[k] << " missing after a kill at " << kill_us << " us";
      EXPECT_TRUE(now == "earlier " + c.outputs[k] + "\n" || now == complete[k])
          << c.outputs[k] << ": a part of a file (" << now.size() << " of " << complete[k].size()
          << " bytes) after a kill at " << kill_us << " us of " << run_us;
    }
  }
  EXPECT_GT(killed, 0) << "no run was killed: the runs are too short to test anything";
}

TEST(SigkillDuringWrites, OstrelAnnotatedImages) {
  TempDir dir;
  copy_in(dir, std::string(QOR_EXAMPLES) + "/scene/triplets.txt", "t.txt");
  write_large_jpeg(dir.file("v1.jpg"), 1);
  write_large_jpeg(dir.file("v2.jpg"), 2);
  write_large_jpeg(dir.file("v3.jpg"), 3);
  Case c{"ostrel",
         {"-f", "t.txt", "-n", "20", "-i", "v1.jpg", "-j", "v2.jpg", "-k", "v3.jpg"},
         {"v1.jpg-v2.jpg.matches.TM.jpg", "v2.jpg-v3.jpg.matches.TM.jpg"}};
  check_outputs_survive_kills(dir, c, 11);
}

TEST(SigkillDuringWrites, OstrelTensorAndSupportFiles) {
  TempDir dir;
  copy_in(dir, std::string(QOR_EXAMPLES) + "/scene/triplets.txt", "t.txt");
  Case c{"ostrel", {"-f", "t.txt", "-n", "400"}, {"t.txt.TM", "t.txt.TM.matches"}};
  check_outputs_survive_kills(dir, c, 12);
}

TEST(SigkillDuringWrites, PelmixFilteredFiles) {
  TempDir dir;
  qortest::write_file(dir.file("p.txt"), large_pair_file());
  Case c{"pelmix", {"-f", "p.txt", "-z"}, {"p.txt.filtered", "p.txt.L.filtered", "p.txt.R.filtered"}};
  check_outputs_survive_kills(dir, c, 13);
}

TEST(SigkillDuringWrites, VandrelTrackFile) {
  TempDir dir;
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "img" + std::to_string(i) + ".jpg-img" + std::to_string(i + 1) +
                             ".jpg-img" + std::to_string(i + 2) + ".jpg.txt";
    copy_in(dir, std::string(QOR_EXAMPLES) + "/sequence/" + name, name);
  }
  Case c{"vandrel", {"-p", "img", "-o", ".txt", "-s", "1", "-e", "6", "-f", "tracks.txt"},
         {"tracks.txt"}};
  check_outputs_survive_kills(dir, c, 14);
}

}  // namespace
