// Every output file of every program on a full device: the output name is a
// symbolic link to /dev/full, so opening succeeds and the writes fail. The
// program must name the file, end with status 1 and never report success.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_util.h"
#include "qorimage.h"

namespace {

using qortest::RunResult;
using qortest::TempDir;

void copy_file(const std::string &from, const std::string &to) {
  bool ok = false;
  const std::string bytes = qortest::read_file(from, &ok);
  ASSERT_TRUE(ok) << from;
  qortest::write_file(to, bytes);
}

void point_at_full_device(const TempDir &dir, const std::string &name) {
  ASSERT_EQ(symlink("/dev/full", dir.file(name).c_str()), 0) << name;
}

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ostrel writes the tensor file, then the support file.
RunResult run_ostrel(const TempDir &dir) {
  return qortest::run_program(qortest::program_path("ostrel"), {"-f", "t.txt", "-n", "20"}, dir.path());
}

TEST(FailedWrites, OstrelTensorFile) {
  TempDir dir;
  copy_file(std::string(QOR_EXAMPLES) + "/scene/triplets.txt", dir.file("t.txt"));
  point_at_full_device(dir, "t.txt.TM");
  const RunResult r = run_ostrel(dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, "can't write t.txt.TM\n")) << r.out;
  // The run stops there: no support file follows a lost tensor file.
  EXPECT_FALSE(qortest::file_exists(dir.file("t.txt.TM.matches")));
}

TEST(FailedWrites, OstrelSupportFile) {
  TempDir dir;
  copy_file(std::string(QOR_EXAMPLES) + "/scene/triplets.txt", dir.file("t.txt"));
  point_at_full_device(dir, "t.txt.TM.matches");
  const RunResult r = run_ostrel(dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, "can't write t.txt.TM.matches\n")) << r.out;
  // The tensor file written before stays as written: nine lines.
  const std::string tensor = qortest::read_file(dir.file("t.txt.TM"));
  EXPECT_EQ(std::count(tensor.begin(), tensor.end(), '\n'), 9);
}

// With -i, -j and -k, ostrel then writes two annotated JPEG copies; a full
// device stops the run in the JPEG library's error path, which names the
// file and removes it.
TEST(FailedWrites, OstrelAnnotatedImages) {
  for (const char *failing : {"view1.jpg-view2.jpg.matches.TM.jpg", "view2.jpg-view3.jpg.matches.TM.jpg"}) {
    SCOPED_TRACE(failing);
    TempDir dir;
    for (const char *name : {"triplets.txt", "view1.jpg", "view2.jpg", "view3.jpg"})
      copy_file(std::string(QOR_EXAMPLES) + "/scene/" + name, dir.file(name));
    point_at_full_device(dir, failing);
    const RunResult r = qortest::run_program(
        qortest::program_path("ostrel"),
        {"-f", "triplets.txt", "-n", "20", "-i", "view1.jpg", "-j", "view2.jpg", "-k", "view3.jpg"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.err, std::string("can't write ") + failing + "\n")) << r.err;
    EXPECT_FALSE(qortest::file_exists(dir.file(failing)));
  }
}

// pelmix writes .filtered, then with -z .L.filtered and .R.filtered.
TEST(FailedWrites, PelmixEveryOutputFile) {
  for (const char *suffix : {".filtered", ".L.filtered", ".R.filtered"}) {
    SCOPED_TRACE(suffix);
    TempDir dir;
    copy_file(std::string(QOR_EXAMPLES) + "/scene/pairs.txt", dir.file("p.txt"));
    const std::string name = std::string("p.txt") + suffix;
    point_at_full_device(dir, name);
    const RunResult r =
        qortest::run_program(qortest::program_path("pelmix"), {"-f", "p.txt", "-z"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, "can't write " + name + "\n")) << r.out;
    EXPECT_FALSE(qortest::file_exists(dir.file(name)));  // not left half-written
  }
}

std::vector<std::string> vandrel_args(const std::string &output) {
  return {"-p", "img", "-o", ".txt", "-s", "1", "-e", "6", "-f", output};
}

void copy_sequence(const TempDir &dir) {
  for (int i = 1; i <= 4; ++i) {
    const std::string name = "img" + std::to_string(i) + ".jpg-img" + std::to_string(i + 1) + ".jpg-img" +
                             std::to_string(i + 2) + ".jpg.txt";
    copy_file(std::string(QOR_EXAMPLES) + "/sequence/" + name, dir.file(name));
  }
}

TEST(FailedWrites, VandrelTrackFile) {
  TempDir dir;
  copy_sequence(dir);
  point_at_full_device(dir, "tracks");
  const RunResult r = qortest::run_program(qortest::program_path("vandrel"), vandrel_args("tracks"), dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.out, "can't write tracks\n")) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks")));
}

TEST(FailedWrites, VandrelDividedFiles) {
  // Divide count 2: files "-a" (even image numbers) and "-b" (the rest).
  for (const char *failing : {"tracks-a", "tracks-b"}) {
    SCOPED_TRACE(failing);
    TempDir dir;
    copy_sequence(dir);
    point_at_full_device(dir, failing);
    std::vector<std::string> args = vandrel_args("tracks");
    args.insert(args.end(), {"-q", "2"});
    const RunResult r = qortest::run_program(qortest::program_path("vandrel"), args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, std::string("can't write ") + failing + "\n"))
        << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    EXPECT_FALSE(qortest::file_exists(dir.file(failing)));
    // A file finished before the failing one stays.
    if (std::string(failing) == "tracks-b") {
      EXPECT_FALSE(qortest::read_file(dir.file("tracks-a")).empty());
    }
  }
}

// ostrel's annotated images go through the JPEG writer, whose library
// errors are fatal with status 1; a full disk must name the file.
TEST(FailedWrites, JpegImageOnFullDevice) {
  TempDir dir;
  const std::string name = dir.file("view.jpg");
  ASSERT_EQ(symlink("/dev/full", name.c_str()), 0);
  QORImage *image = image_create(64, 48, QOR_RGB);
  ASSERT_NE(image, nullptr);
  for (int i = 0; i < 64 * 48 * 3; ++i) image->pixels[i] = static_cast<unsigned char>(i * 7);
  ImageMessages messages;
  EXPECT_EQ(image_write(name.c_str(), image, 80, &messages), Status::cannot_write);
  EXPECT_EQ(messages.err, "Output file write error --- out of disk space?\ncan't write " + name + "\n");
  EXPECT_EQ(messages.fatal_status, 1);
  image_free(image);
  EXPECT_FALSE(qortest::file_exists(name));
}

}  // namespace
