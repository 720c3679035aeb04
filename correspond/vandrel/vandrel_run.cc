#include "vandrel_run.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "chaining.h"
#include "options.h"
#include "track_output.h"
#include "triplet_file.h"

namespace {

const double kToolkitVersion = 2.11;

int run(int argc, char **argv) {
  std::fprintf(stderr, "TARVIK TOOL: %s\nTARVIK VERSION: %.2f\n",
               argc > 0 && argv[0] ? argv[0] : "", kToolkitVersion);

  TrackSettings settings;
  if (!parse_command_line(argc, argv, &settings)) {
    write_usage(stderr);
    return 1;
  }
  // The divided files are named "-a" to "-z"; a count that needs more is
  // refused before any file is read or written.
  if (divided_file_count(settings.divideCount) > kMaxDividedFiles) {
    report_too_many_files(settings.divideCount);
    return 1;
  }

  std::printf(
      "Preamble %s postamble %s start number %d end number %d output file %s minimum_disparity "
      "%d\n",
      settings.preamble.c_str(), settings.postamble.c_str(), settings.startNumber,
      settings.endNumber, settings.outputFile.c_str(), settings.minimumDisparity);

  // One file per three consecutive images, start .. end - 2; the step of the
  // first file is 1, so the first image of the sequence has position 1.
  TripletBuffer buffer;
  ChainTable table;
  const long long last_first_image = static_cast<long long>(settings.endNumber) - 2;
  for (long long i = settings.startNumber; i <= last_first_image; ++i) {
    std::string name = build_triplet_name(settings, static_cast<int>(i));
    std::printf("File name %s\n", name.c_str());
    if (!read_triplets(name, settings.minimumDisparity, &buffer)) return 1;
    chain_triplets(i - settings.startNumber + 1, buffer, &table);
  }

  list_chains(table, settings);
  if (!write_tracks(&table, settings, settings.outputFile, settings.divideCount)) return 1;
  chain_length_histogram(table);
  return 0;
}

}  // namespace

namespace {

void report_out_of_memory() {
  std::fflush(stdout);
  std::fputs("Out of memory\n", stderr);
}

// Called by operator new when memory runs out. Ending the run here, rather
// than by throwing std::bad_alloc, also works when memory is so short that
// the C++ runtime cannot allocate the exception object itself (it would
// call std::terminate and abort).
void out_of_memory() {
  report_out_of_memory();
  std::exit(2);
}

}  // namespace

int run_vandrel(int argc, char **argv) {
  std::new_handler previous = std::set_new_handler(out_of_memory);
  try {
    const int status = run(argc, argv);
    std::set_new_handler(previous);
    return status;
  } catch (const std::bad_alloc &) {
    // Not from operator new (the handler ends the run), but from the
    // library code that allocates by other means.
    std::set_new_handler(previous);
    report_out_of_memory();
    return 2;
  }
}
