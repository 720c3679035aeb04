// Whole-file input and checked, atomically replaced output files, used by
// every reader and writer of the toolkit.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "status.h"

// Reads all of `path` into *text (replacing its content; its memory is
// reused). A read error ends the text where it happened, as a line-by-line
// reader would stop there. Status::cannot_open when the file cannot be
// opened, Status::out_of_memory when the text does not fit in memory.
Status read_whole_file(const char *path, std::string *text);

// The same for a stream that is already open.
Status read_whole_stream(FILE *stream, std::string *text);

// An output file that is either written completely or not at all.
//
// When the target is a regular file or does not exist, the data go to a
// temporary file in the same folder, which commit() flushes to the disk and
// renames over the target: a run that fails or is killed at any moment
// leaves the earlier file or the new one, never a part of either, and a
// failed write leaves the earlier file in place. When the target exists and
// is not a regular file (a symbolic link, a device such as /dev/full, a
// FIFO), or no temporary file can be made beside it, the target itself is
// opened and written in place; a failed in-place write removes the name, as
// a half-written file must not look like a result (a name that is itself a
// device, FIFO or socket stays).
//
// An OutputFile that is destroyed without a successful commit() discards
// what it wrote.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Opens `path` for writing ("w" or "wb"; both are the same on POSIX).
  // Status::cannot_open when neither a temporary file nor the target can be
  // opened.
  Status open(const std::string &path);

  // The stream to write to; null before open() and after commit().
  FILE *stream() const { return stream_; }
  const std::string &path() const { return path_; }

  // Checks the stream's error flag, flushes, closes and moves the file into
  // place. Status::cannot_write when any step fails; the output is then
  // discarded as described above.
  Status commit();

  // Abandons the output: closes it and removes the temporary file (or, for an
  // in-place output, the target).
  void discard();

 private:
  void remove_output();

  FILE *stream_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer; outlives it
  std::string path_;       // the target
  std::string temporary_;  // the file written; empty for in-place output
};
