// Inputs that once made a reader crash or misbehave (found by fuzzing), kept
// so that the fault stays fixed. Each folder of tests/data/regressions is
// named after the file extension its inputs are read with; every input there
// is a damaged file that the reader must refuse cleanly (null), which the
// sanitizer build checks for undefined behaviour on the way.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_util.h"
#include "qorimage.h"

namespace {

std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

}  // namespace

TEST(Regressions, DamagedImagesAreRefused) {
  const std::string root = QOR_REGRESSIONS;
  qortest::TempDir dir;
  int checked = 0;
  for (const std::string &format : entries(root)) {
    for (const std::string &name : entries(root + "/" + format)) {
      // Read under a name with the folder's extension, whatever the file is
      // called, so the dispatch picks that format's reader.
      const std::string copy = dir.file("input." + format);
      qortest::write_file(copy, qortest::read_file(root + "/" + format + "/" + name));
      QORImage *image = image_read(copy.c_str());
      EXPECT_EQ(image, nullptr) << format << "/" << name;
      image_free(image);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}
