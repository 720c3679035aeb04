#include "track_output.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "file_util.h"
#include "text_output.h"
#include "track_settings.h"

int next_divisor(int d) {
  if (d > 5) return d / 2;
  if (d >= 1) return d - 1;
  return 0;
}

int divided_file_count(int divide_count) {
  int files = 0;
  for (int d = divide_count; d >= 1; d = next_divisor(d)) ++files;
  return files;
}

long long output_image_number(const TrackSettings &settings, long long position, bool reverse) {
  if (reverse) {
    long long images = static_cast<long long>(settings.endNumber) - settings.startNumber;
    position = (images + 2) - position;
  }
  return settings.imageOffset + renumbered_position(settings, position);
}

namespace {

// Hands the buffered text to the file and moves the file into place. A file
// that could not be written completely (a full disk, for one) is not left
// behind; its name goes to *failed_name.
Status finish_output(TextOutput *out, OutputFile *file, std::string *failed_name) {
  flush_text(out);
  const Status status = file->commit();
  if (status != Status::ok && failed_name) *failed_name = file->path();
  return status;
}

// Opens one track file; its name goes to *failed_name when it cannot be opened.
Status open_output(OutputFile *file, const std::string &name, std::string *failed_name) {
  const Status status = file->open(name);
  if (status != Status::ok && failed_name) *failed_name = name;
  return status;
}

// "mp %d %d %f %f\r\n" in the long form, "mp %d %d %.1f %.1f\r\n" in the
// short one.
void write_line(TextOutput *out, bool long_form, long long image, int chain, ImagePoint p) {
  int decimals = long_form ? 6 : 1;
  put_text(out, "mp ");
  put_integer(out, image);
  put_text(out, " ");
  put_integer(out, chain);
  put_text(out, " ");
  put_fixed(out, p.x, decimals);
  put_text(out, " ");
  put_fixed(out, p.y, decimals);
  put_text(out, "\r\n");
}

Status write_single_file(const ChainTable &table, const TrackSettings &settings,
                         const std::string &output_name, std::string *failed_name) {
  OutputFile file;
  const Status opened = open_output(&file, output_name, failed_name);
  if (opened != Status::ok) return opened;
  // Only the plain short form shows the averaged positions; the long form and
  // reversed output show each point as first observed.
  const bool averaged = !settings.longForm && !settings.reverse;
  TextOutput out(file.stream());  // flushed before the file is closed
  int n = 0;
  for (const Chain &chain : table.chains) {
    if (static_cast<long long>(chain.points.size()) < settings.minimumChainLength) continue;
    for (size_t k = 0; k < chain.points.size(); ++k) {
      const ChainPoint &cp = chain.points[k];
      ImagePoint p = cp.point;
      if (averaged) p = ImagePoint{cp.sum.x / cp.count, cp.sum.y / cp.count};
      long long image = output_image_number(settings, chain.firstPosition + static_cast<long long>(k),
                                            settings.reverse);
      write_line(&out, settings.longForm, image, n + 1, p);
    }
    ++n;
  }
  return finish_output(&out, &file, failed_name);
}

Status write_divided_files(ChainTable *table, const TrackSettings &settings,
                           const std::string &output_name, int divide_count,
                           ChainingEvents *events, std::string *failed_name) {
  int n = 0;
  for (Chain &chain : table->chains)
    if (static_cast<long long>(chain.points.size()) >= settings.minimumChainLength)
      chain.outputNumber = ++n;
  if (divide_count < 1) return Status::ok;

  std::vector<int> divisors;
  for (int d = divide_count; d >= 1; d = next_divisor(d)) divisors.push_back(d);
  if (divisors.size() > static_cast<size_t>(kMaxDividedFiles)) {
    // The program refuses such a count before reading anything; this guards
    // the file names for any other caller.
    return Status::invalid_argument;
  }

  // An image goes to the first file whose divisor divides its number: the
  // same points are looked at for every file, so an image whose number an
  // earlier divisor divides has been written there already. The last divisor
  // is 1, so every image has a file. Work it out once per sequence position.
  long long first_position = 0;
  long long last_position = -1;
  for (const Chain &chain : table->chains) {
    if (static_cast<long long>(chain.points.size()) < settings.minimumChainLength) continue;
    long long end = chain.firstPosition + static_cast<long long>(chain.points.size()) - 1;
    if (last_position < first_position) {
      first_position = chain.firstPosition;
      last_position = end;
    }
    first_position = std::min(first_position, chain.firstPosition);
    last_position = std::max(last_position, end);
  }
  std::vector<unsigned char> file_of;
  for (long long p = first_position; p <= last_position; ++p) {
    long long image = output_image_number(settings, p, false);
    size_t f = 0;
    while (image % divisors[f] != 0) ++f;
    file_of.push_back(static_cast<unsigned char>(f));
  }

  std::string name = output_name + "-";
  for (size_t f = 0; f < divisors.size(); ++f) {
    std::string file_name = name + static_cast<char>('a' + f);
    if (events) events->opening_track_file(file_name);
    OutputFile file;
    const Status opened = open_output(&file, file_name, failed_name);
    if (opened != Status::ok) return opened;
    TextOutput out(file.stream());  // flushed before the file is closed
    for (const Chain &chain : table->chains) {
      if (static_cast<long long>(chain.points.size()) < settings.minimumChainLength) continue;
      for (size_t k = 0; k < chain.points.size(); ++k) {
        long long p = chain.firstPosition + static_cast<long long>(k);
        if (file_of[static_cast<size_t>(p - first_position)] != f) continue;
        write_line(&out, settings.longForm, output_image_number(settings, p, false),
                   chain.outputNumber, chain.points[k].point);
      }
    }
    const Status finished = finish_output(&out, &file, failed_name);
    if (finished != Status::ok) return finished;
  }
  return Status::ok;
}

}  // namespace

Status write_tracks(ChainTable *table, const TrackSettings &settings, const std::string &output_name,
                    int divide_count, ChainingEvents *events, std::string *failed_name) {
  if (divide_count == 0) return write_single_file(*table, settings, output_name, failed_name);
  return write_divided_files(table, settings, output_name, divide_count, events, failed_name);
}
