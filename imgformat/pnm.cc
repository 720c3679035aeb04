// Reading and writing PGM (P2, P5) and PPM (P3, P6) files.
//
// Each form has its own small parser; they differ on purpose in details
// (comment handling, where the samples begin, messages), and each is written
// out on its own below. The maximum value of a header is read but not used:
// every sample is stored as its low byte.
//
// Lines and tokens of any length are read whole. The only bounded token is
// the P5 header token, which is refused beyond 79 characters.
//
// Before the pixel block is allocated, each reader checks that the rest of
// the file can hold the samples its header promises; a file that cannot
// gives the same end-of-input message as running out of data would, without
// allocating a block sized by the header alone.
#include "pnm.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <string>

#include "file_util.h"
#include "formats.h"
#include "open_file.h"
#include "messages.h"

namespace {

bool is_blank(int c) { return c != EOF && std::isspace(static_cast<unsigned char>(c)); }

// Bytes left between the current position and the end of a regular file;
// -1 when that cannot be known (a pipe, for instance).
long long bytes_left(FILE *f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  long pos = std::ftell(f);
  if (pos < 0) return -1;
  return static_cast<long long>(st.st_size) - pos;
}

// A header number as "%d" reads it: optional sign, at least one digit, any
// trailing characters ignored. False when there is no number or it does not
// fit an int.
bool header_number(const std::string &token, int *value) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    negative = token[i] == '-';
    ++i;
  }
  if (i >= token.size() || !std::isdigit(static_cast<unsigned char>(token[i]))) return false;
  long long v = 0;
  for (; i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])); ++i) {
    v = v * 10 + (token[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  *value = static_cast<int>(v);
  return true;
}

// A sample token: the low byte of its decimal value (300 gives 44, -1 gives
// 255), computed modulo 256 so that no length of digits overflows. A token
// that is not a number leaves `*sample` as it was (the last value is stored
// again).
void sample_number(const std::string &token, unsigned char *sample) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    negative = token[i] == '-';
    ++i;
  }
  if (i >= token.size() || !std::isdigit(static_cast<unsigned char>(token[i]))) return;
  unsigned v = 0;
  for (; i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])); ++i)
    v = (v * 10 + static_cast<unsigned>(token[i] - '0')) & 0xFFu;
  if (negative) v = (256u - v) & 0xFFu;
  *sample = static_cast<unsigned char>(v);
}

// Whitespace-separated tokens taken a line at a time. While `header` is set,
// a line whose first character is '#' is skipped whole.
class LineTokens {
 public:
  explicit LineTokens(FILE *f) : f_(f) {}
  bool header = true;

  // The next token; false at the end of the file.
  bool next(std::string *token) {
    for (;;) {
      while (pos_ < line_.size() && is_blank(static_cast<unsigned char>(line_[pos_]))) ++pos_;
      if (pos_ < line_.size()) break;
      if (!read_line()) return false;
      if (header && !line_.empty() && line_[0] == '#') line_.clear();
    }
    size_t start = pos_;
    while (pos_ < line_.size() && !is_blank(static_cast<unsigned char>(line_[pos_]))) ++pos_;
    token->assign(line_, start, pos_ - start);
    return true;
  }

  // Drops what is left of the current line; the file stands after its end.
  void drop_rest_of_line() { pos_ = line_.size(); }

 private:
  // One line including its newline; false when nothing is left.
  bool read_line() {
    line_.clear();
    pos_ = 0;
    int c;
    while ((c = std::getc(f_)) != EOF) {
      line_.push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    return !line_.empty();
  }

  FILE *f_;
  std::string line_;
  size_t pos_ = 0;
};

void header_end_of_input(const char *prefix, ImageMessages *messages) {
  message_out(messages, "\n%s_READ_HEADER: Fatal error.\n  End of input.\n", prefix);
}

void data_end_of_input(const char *prefix, ImageMessages *messages) {
  message_out(messages, "\n%s_READ_DATA: Fatal error.\n  End of input.\n", prefix);
}

void bad_magic(const char *prefix, const std::string &magic, ImageMessages *messages) {
  message_out(messages, "\n%s_READ_HEADER: Fatal error.\n  Bad magic number = %s.\n", prefix,
              magic.c_str());
}

// Header of P2, P3 and P6 read line by line: magic, width, height, maximum
// value; the rest of the maximum value's line is dropped. `prefix` names the
// form in the messages. False after a fault (with its message when there is
// one).
bool read_line_header(LineTokens *tokens, const char *magic_upper, const char *magic_lower,
                      const char *prefix, int *width, int *height, ImageMessages *messages) {
  std::string token;
  if (!tokens->next(&token)) {
    header_end_of_input(prefix, messages);
    return false;
  }
  if (token != magic_upper && token != magic_lower) {
    bad_magic(prefix, token, messages);
    return false;
  }
  int values[3];
  for (int i = 0; i < 3; ++i) {
    if (!tokens->next(&token)) {
      header_end_of_input(prefix, messages);
      return false;
    }
    // A header field that is no number gives no image.
    if (!header_number(token, &values[i])) return false;
  }
  tokens->drop_rest_of_line();
  *width = values[0];
  *height = values[1];
  return true;
}

// Number of samples of a width x height image with `channels` per pixel, or
// -1 when no image of that size can be created.
long long sample_count(int width, int height, int channels) {
  if (width < 0 || height < 0) return -1;
  long long n = static_cast<long long>(width) * height * channels;
  return n > INT_MAX ? -1 : n;
}

// Samples as whitespace-separated decimal tokens, `channels` per pixel.
QORImage *read_ascii_samples(LineTokens *tokens, FILE *f, int width, int height, int type,
                             const char *prefix, ImageMessages *messages) {
  const int channels = type == QOR_GRAY ? 1 : 3;
  long long n = sample_count(width, height, channels);
  if (n < 0) return nullptr;
  tokens->header = false;
  // Each sample token takes at least one character of the file.
  long long left = bytes_left(f);
  if (left >= 0 && left < n) {
    data_end_of_input(prefix, messages);
    return nullptr;
  }
  QORImage *image = image_create(width, height, type);
  if (!image) return nullptr;
  std::string token;
  unsigned char sample = 0;
  for (long long i = 0; i < n; ++i) {
    if (!tokens->next(&token)) {
      data_end_of_input(prefix, messages);
      image_free(image);
      return nullptr;
    }
    sample_number(token, &sample);
    image->pixels[i] = sample;
  }
  return image;
}

// Samples as raw bytes starting at the current position.
QORImage *read_binary_samples(FILE *f, int width, int height, int type, const char *prefix,
                              ImageMessages *messages) {
  const int channels = type == QOR_GRAY ? 1 : 3;
  long long n = sample_count(width, height, channels);
  if (n < 0) return nullptr;
  long long left = bytes_left(f);
  if (left >= 0 && left < n) {
    message_out(messages, "%s_READ_DATA: Failed reading data byte %d.\n", prefix, static_cast<int>(left));
    return nullptr;
  }
  QORImage *image = image_create(width, height, type);
  if (!image) return nullptr;
  size_t got = std::fread(image->pixels, 1, static_cast<size_t>(n), f);
  if (got < static_cast<size_t>(n)) {
    message_out(messages, "%s_READ_DATA: Failed reading data byte %d.\n", prefix, static_cast<int>(got));
    image_free(image);
    return nullptr;
  }
  return image;
}

QORImage *read_line_form(const char *name, const char *mode, const char *magic_upper,
                         const char *magic_lower, int type, bool binary, const char *prefix,
                         ImageMessages *messages) {
  OpenFile file(name, mode);
  if (!file.get()) return nullptr;
  LineTokens tokens(file.get());
  int width, height;
  if (!read_line_header(&tokens, magic_upper, magic_lower, prefix, &width, &height, messages))
    return nullptr;
  if (binary) return read_binary_samples(file.get(), width, height, type, prefix, messages);
  return read_ascii_samples(&tokens, file.get(), width, height, type, prefix, messages);
}

// Characters of the P5 header: 0xFF and the end of the file both end the
// input; a '#' comment runs up to and including its line end, which then
// stands for one whitespace character.
const int kEndOfInput = -1;

int p5_header_char(FILE *f) {
  int c = std::getc(f);
  if (c == EOF || c == 0xFF) return kEndOfInput;
  if (c != '#') return c;
  do {
    c = std::getc(f);
    if (c == EOF || c == 0xFF) return kEndOfInput;
  } while (c != '\n');
  return '\n';
}

const size_t kP5TokenMax = 79;

// The header of the ASCII forms: magic, the file name as a comment, size and
// maximum value, one to a line.
void write_ascii_header(FILE *f, const char *magic, const char *name, const QORImage *image) {
  std::fprintf(f, "%s\n# %s\n%d %d\n%d\n", magic, name, image->width, image->height, 255);
}

void write_sample(FILE *f, int value, bool line_end) {
  std::fprintf(f, "%d", value);
  std::fputc(line_end ? '\n' : ' ', f);
}


}  // namespace

QORImage *read_pnm(const char *name, ImageMessages *messages) {
  char form = 0;
  {
    OpenFile file(name, "r");
    if (!file.get()) return nullptr;
    FILE *f = file.get();
    int c;
    for (;;) {
      c = std::getc(f);
      if (c == EOF) return nullptr;
      if (c == '#') {
        while (c != '\n' && c != EOF) c = std::getc(f);
        continue;
      }
      if (!is_blank(c)) break;
    }
    // Only the first two characters of the first token decide the form.
    if (c != 'P') return nullptr;
    c = std::getc(f);
    if (is_blank(c) || c == EOF) return nullptr;
    form = static_cast<char>(c);
  }
  switch (form) {
    case '2': return pgma_read(name, messages);
    case '3': return ppma_read(name, messages);
    case '5': return pgmb_read(name, messages);
    case '6': return ppmb_read(name, messages);
    default: return nullptr;
  }
}

QORImage *pgma_read(const char *name, ImageMessages *messages) {
  return read_line_form(name, "r", "P2", "p2", QOR_GRAY, false, "PGMA", messages);
}

QORImage *ppma_read(const char *name, ImageMessages *messages) {
  return read_line_form(name, "r", "P3", "p3", QOR_RGB, false, "PPMA", messages);
}

QORImage *ppmb_read(const char *name, ImageMessages *messages) {
  return read_line_form(name, "rb", "P6", "p6", QOR_RGB, true, "PPMB", messages);
}

QORImage *pgmb_read(const char *name, ImageMessages *messages) {
  OpenFile file(name, "rb");
  if (!file.get()) return nullptr;
  FILE *f = file.get();

  // Four tokens: magic, width, height, maximum value. The header may not
  // begin with whitespace.
  std::string tokens[4];
  int c = p5_header_char(f);
  if (c == kEndOfInput || is_blank(c)) return nullptr;
  for (int k = 0; k < 4; ++k) {
    while (is_blank(c)) c = p5_header_char(f);
    if (c == kEndOfInput) return nullptr;
    while (!is_blank(c)) {
      if (tokens[k].size() == kP5TokenMax) return nullptr;
      tokens[k].push_back(static_cast<char>(c));
      c = p5_header_char(f);
      if (c == kEndOfInput) return nullptr;
    }
    // `c` is the whitespace ending the token; after the maximum value it is
    // the one character consumed before the samples.
    if (k == 0 && tokens[0] != "P5" && tokens[0] != "p5") {
      bad_magic("PGMB", tokens[0], messages);
      return nullptr;
    }
  }
  int values[3];
  for (int k = 0; k < 3; ++k)
    if (!header_number(tokens[k + 1], &values[k])) return nullptr;
  return read_binary_samples(f, values[0], values[1], QOR_GRAY, "PGMB", messages);
}

Status pgma_write(const char *name, QORImage *image) {
  if (!image || !name) return Status::invalid_argument;
  OutputFile file;
  if (file.open(name) != Status::ok) return Status::cannot_open;
  FILE *f = file.stream();
  write_ascii_header(f, "P2", name, image);
  // A line ends after every tenth value written, after the last value of a
  // row and after the last value of the image.
  long long count = 0;
  const long long total = static_cast<long long>(image->width) * image->height;
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      ++count;
      bool line_end = count % 10 == 0 || x == image->width - 1 || count == total;
      write_sample(f, image->pixels[count - 1], line_end);
    }
  }
  return file.commit();
}

Status pgmb_write(const char *name, QORImage *image) {
  if (!image || !name) return Status::invalid_argument;
  OutputFile file;
  if (file.open(name) != Status::ok) return Status::cannot_open;
  FILE *f = file.stream();
  std::fprintf(f, "P5 %d %d %d ", image->width, image->height, 255);
  size_t n = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
  std::fwrite(image->pixels, 1, n, f);
  return file.commit();
}

Status ppma_write(const char *name, QORImage *image) {
  // The samples are read three to a pixel; anything else would run past the
  // end of the pixel block.
  if (!image || !name || image->bytes_per_pixel != 3) return Status::invalid_argument;
  OutputFile file;
  if (file.open(name) != Status::ok) return Status::cannot_open;
  FILE *f = file.stream();
  write_ascii_header(f, "P3", name, image);
  // A line ends after every fourth pixel written, after the last pixel of a
  // row and after the last pixel of the image.
  long long count = 0;
  const long long total = static_cast<long long>(image->width) * image->height;
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const unsigned char *p = image->pixels + 3 * count;
      ++count;
      bool line_end = count % 4 == 0 || x == image->width - 1 || count == total;
      std::fprintf(f, "%d %d %d", p[0], p[1], p[2]);
      std::fputc(line_end ? '\n' : ' ', f);
    }
  }
  return file.commit();
}

Status ppmb_write(const char *name, QORImage *image) {
  if (!image || !name || image->bytes_per_pixel != 3) return Status::invalid_argument;
  OutputFile file;
  if (file.open(name) != Status::ok) return Status::cannot_open;
  FILE *f = file.stream();
  std::fprintf(f, "P6\n%d %d\n%d\n", image->width, image->height, 255);
  size_t n = static_cast<size_t>(image->width) * static_cast<size_t>(image->height) * 3;
  std::fwrite(image->pixels, 1, n, f);
  return file.commit();
}

Status write_pgm(const char *name, QORImage *image, int binary, ImageMessages *) {
  return binary ? pgmb_write(name, image) : pgma_write(name, image);
}

Status write_ppm(const char *name, QORImage *image, int binary, ImageMessages *) {
  return binary ? ppmb_write(name, image) : ppma_write(name, image);
}
