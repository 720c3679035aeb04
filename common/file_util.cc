#include "file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <stdexcept>

Status read_whole_stream(FILE *stream, std::string *text) {
  text->clear();
  try {
    struct stat st;
    if (fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
      text->reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) text->append(chunk, got);
  } catch (const std::bad_alloc &) {
    text->clear();
    text->shrink_to_fit();
    return Status::out_of_memory;
  } catch (const std::length_error &) {
    text->clear();
    text->shrink_to_fit();
    return Status::out_of_memory;
  }
  return Status::ok;
}

Status read_whole_file(const char *path, std::string *text) {
  FILE *f = std::fopen(path, "r");
  if (f == nullptr) return Status::cannot_open;
  const Status status = read_whole_stream(f, text);
  std::fclose(f);
  return status;
}

namespace {

// A name for the temporary file beside `path`: same folder, the target's
// name behind a dot and before the process number and a counter, so that
// two outputs of one process, or two processes, never share one.
std::string temporary_name(const std::string &path, unsigned serial) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + "." + std::to_string(static_cast<long>(getpid())) + "." +
         std::to_string(serial) + ".tmp";
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

Status OutputFile::open(const std::string &path) {
  discard();
  path_ = path;
  temporary_.clear();
  // An empty name names no file (fopen refuses it); a temporary file beside
  // it could be made but never renamed into place.
  if (path.empty()) return Status::cannot_open;
  struct stat st;
  const bool exists = lstat(path.c_str(), &st) == 0;
  if (!exists || S_ISREG(st.st_mode)) {
    // The new file gets the permissions the target has, or those a plain
    // fopen would give a new file.
    const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100 && stream_ == nullptr; ++attempt) {
      const std::string candidate = temporary_name(path, serial++);
      const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        break;  // no temporary file here: write in place below
      }
      if (exists) fchmod(fd, mode);  // not narrowed by the umask, as fopen keeps an existing mode
      stream_ = fdopen(fd, "w");
      if (stream_ == nullptr) {
        ::close(fd);
        ::unlink(candidate.c_str());
        break;
      }
      temporary_ = candidate;
    }
  }
  if (stream_ == nullptr) stream_ = std::fopen(path.c_str(), "w");
  if (stream_ == nullptr) return Status::cannot_open;
  // Support files run to hundreds of kilobytes: write them in 64 KiB blocks
  // rather than the default 4 KiB (the same bytes, a sixteenth of the calls).
  // (glibc takes the size only with a buffer of the caller's.)
  constexpr size_t kBuffer = 1 << 16;
  if (!buffer_) buffer_.reset(new (std::nothrow) char[kBuffer]);
  if (buffer_) std::setvbuf(stream_, buffer_.get(), _IOFBF, kBuffer);
  return Status::ok;
}

Status OutputFile::commit() {
  if (stream_ == nullptr) return Status::cannot_write;
  bool failed = std::ferror(stream_) != 0;
  if (std::fflush(stream_) != 0) failed = true;
  if (!temporary_.empty() && fsync(fileno(stream_)) != 0) failed = true;
  if (std::fclose(stream_) != 0) failed = true;
  stream_ = nullptr;
  if (!failed && !temporary_.empty() && std::rename(temporary_.c_str(), path_.c_str()) != 0)
    failed = true;
  if (failed) {
    remove_output();
    return Status::cannot_write;
  }
  temporary_.clear();
  return Status::ok;
}

void OutputFile::discard() {
  if (stream_ == nullptr) return;
  std::fclose(stream_);
  stream_ = nullptr;
  remove_output();
}

void OutputFile::remove_output() {
  if (!temporary_.empty()) {
    std::remove(temporary_.c_str());
    temporary_.clear();
    return;
  }
  // An in-place output loses its name, unless the name is a device, a FIFO
  // or a socket itself (writing to /dev/full must not delete /dev/full).
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 &&
      (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
    return;
  std::remove(path_.c_str());
}
