// A file opened for reading that is closed when the reader returns,
// whichever way; internal to the image library.
#pragma once
#include <cstdio>

class OpenFile {
 public:
  OpenFile(const char *name, const char *mode) : f_(name ? std::fopen(name, mode) : nullptr) {}
  ~OpenFile() {
    if (f_) std::fclose(f_);
  }
  OpenFile(const OpenFile &) = delete;
  OpenFile &operator=(const OpenFile &) = delete;
  FILE *get() const { return f_; }

 private:
  FILE *f_;
};
