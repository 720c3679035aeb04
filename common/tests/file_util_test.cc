// Whole-file reading and the atomically replaced output file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "cli_util.h"
#include "file_util.h"

namespace {

using qortest::TempDir;

int count_entries(const TempDir &dir) {
  int n = 0;
  FILE *p = popen(("ls -A " + dir.path() + " | wc -l").c_str(), "r");
  if (p && fscanf(p, "%d", &n) != 1) n = -1;
  if (p) pclose(p);
  return n;
}

TEST(FileUtil, ReadsWholeFileAndReportsMissingOne) {
  TempDir dir;
  std::string big(200000, 'x');
  big[123456] = '\0';  // embedded NUL bytes are data like any other
  qortest::write_file(dir.file("a"), big);
  std::string text = "old";
  EXPECT_EQ(read_whole_file(dir.file("a").c_str(), &text), Status::ok);
  EXPECT_EQ(text, big);
  EXPECT_EQ(read_whole_file(dir.file("missing").c_str(), &text), Status::cannot_open);
}

TEST(FileUtil, CommitReplacesTheTargetOnlyAtTheEnd) {
  TempDir dir;
  const std::string target = dir.file("out.txt");
  qortest::write_file(target, "earlier\n");
  chmod(target.c_str(), 0640);
  {
    OutputFile out;
    ASSERT_EQ(out.open(target), Status::ok);
    std::fputs("new content\n", out.stream());
    std::fflush(out.stream());
    // Until the commit the earlier file stands, whole.
    EXPECT_EQ(qortest::read_file(target), "earlier\n");
    ASSERT_EQ(out.commit(), Status::ok);
  }
  EXPECT_EQ(qortest::read_file(target), "new content\n");
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the target keeps its permissions
  EXPECT_EQ(count_entries(dir), 1);     // no temporary file is left behind
}

TEST(FileUtil, AbandonedOrFailedOutputKeepsTheEarlierFile) {
  TempDir dir;
  const std::string target = dir.file("out.txt");
  qortest::write_file(target, "earlier\n");
  {
    OutputFile out;
    ASSERT_EQ(out.open(target), Status::ok);
    std::fputs("half", out.stream());
  }  // destroyed without commit
  EXPECT_EQ(qortest::read_file(target), "earlier\n");
  {
    OutputFile out;
    ASSERT_EQ(out.open(target), Status::ok);
    std::fputs("half", out.stream());
    out.discard();
    EXPECT_EQ(out.commit(), Status::cannot_write);
  }
  EXPECT_EQ(qortest::read_file(target), "earlier\n");
  EXPECT_EQ(count_entries(dir), 1);
  OutputFile nowhere;
  EXPECT_EQ(nowhere.open(dir.file("no/such/folder/x")), Status::cannot_open);
}

TEST(FileUtil, NonRegularTargetIsWrittenInPlace) {
  TempDir dir;
  // A symbolic link is followed, not replaced: the file it names gets the data.
  qortest::write_file(dir.file("real"), "earlier\n");
  ASSERT_EQ(symlink("real", dir.file("link").c_str()), 0);
  OutputFile out;
  ASSERT_EQ(out.open(dir.file("link")), Status::ok);
  std::fputs("through the link\n", out.stream());
  ASSERT_EQ(out.commit(), Status::ok);
  EXPECT_EQ(qortest::read_file(dir.file("real")), "through the link\n");
  struct stat st;
  ASSERT_EQ(lstat(dir.file("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A full device fails at the commit, and the name is removed.
  ASSERT_EQ(symlink("/dev/full", dir.file("full").c_str()), 0);
  OutputFile full;
  ASSERT_EQ(full.open(dir.file("full")), Status::ok);
  for (int i = 0; i < 10000; ++i) std::fputs("0123456789", full.stream());
  EXPECT_EQ(full.commit(), Status::cannot_write);
  EXPECT_FALSE(qortest::file_exists(dir.file("full")));
}

}  // namespace
