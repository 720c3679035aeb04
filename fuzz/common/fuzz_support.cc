#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

namespace {

std::string g_directory;
std::vector<std::string> g_files;

void remove_scratch() {
  for (const std::string &f : g_files) unlink(f.c_str());
  if (!g_directory.empty()) rmdir(g_directory.c_str());
}

}  // namespace

std::string scratch_path(const char *name) {
  if (g_directory.empty()) {
    char tmpl[] = "/tmp/qor_fuzz.XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_directory = tmpl;
    std::atexit(remove_scratch);
  }
  const std::string path = g_directory + "/" + name;
  g_files.push_back(path);
  return path;
}

void write_scratch(const std::string &path, const uint8_t *data, size_t size) {
  // Written in place and then cut to size: truncating to zero first makes
  // some file systems (ext4) flush the file on close, a thousand times
  // slower than the write itself.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
  close(fd);
}

}  // namespace fuzz
