#include "vandrel_run.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "chaining.h"
#include "console_report.h"
#include "options.h"
#include "track_output.h"
#include "triplet_file.h"
#include "version.h"

namespace {

void report_out_of_memory() {
  std::fflush(stdout);
  std::fputs("Out of memory\n", stderr);
}

// Explains on standard error that `divide_count` needs more than
// kMaxDividedFiles output files.
void report_too_many_files(int divide_count) {
  std::fprintf(stderr, "Divide count %d needs %d output files; at most %d (-a to -z) are possible\n",
               divide_count, divided_file_count(divide_count), kMaxDividedFiles);
}

// run()'s result when a library call reported that memory ran out.
constexpr int kOutOfMemory = -1;

int run(int argc, char **argv, ConsolePrinter *printer) {
  std::fprintf(stderr, "TARVIK TOOL: %s\nTARVIK VERSION: %s\n",
               argc > 0 && argv[0] ? argv[0] : "", kTarvikVersion);

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
    const Status read = read_triplets(name, settings.minimumDisparity, &buffer, printer);
    if (read == Status::out_of_memory) return kOutOfMemory;
    if (read != Status::ok) {
      std::puts("Open failed");
      return 1;
    }
    chain_and_print(i - settings.startNumber + 1, buffer, &table, printer);
  }

  list_chains(table, settings);
  std::string failed;
  const Status written =
      write_tracks(&table, settings, settings.outputFile, settings.divideCount, printer, &failed);
  if (written == Status::cannot_open) {
    std::puts("Open failed");
    return 1;
  }
  if (written == Status::cannot_write) {
    std::printf("can't write %s\n", failed.c_str());
    return 1;
  }
  if (written != Status::ok) {
    report_too_many_files(settings.divideCount);
    return 1;
  }
  chain_length_histogram(table);
  return 0;
}

// The run, with out of memory reported as it always was: "Out of memory" on
// standard error and status 2.
int run_reporting(int argc, char **argv) {
  ConsolePrinter printer;
  try {
    const int status = run(argc, argv, &printer);
    if (status != kOutOfMemory) return status;
  } catch (const std::bad_alloc &) {
    // operator new found no memory
  }
  // What was printed before goes out ahead of the message.
  report_out_of_memory();
  return 2;
}

// A little memory set aside at the start of the run. When memory runs out,
// the std::bad_alloc that reports it must itself be allocated; the C++
// runtime keeps an emergency pool for that, but the pool is missing when
// memory was already short as the program started, and the runtime would
// then abort. The handler gives this block back and throws, so that the
// exception finds room and unwinds to run_reporting. A block of this size
// returns to the general heap when freed (it is above the per-size caches
// and below the size that malloc maps separately).
void *g_reserve = nullptr;
constexpr size_t kReserveBytes = 16384;

void out_of_memory() {
  if (g_reserve != nullptr) {
    std::free(g_reserve);
    g_reserve = nullptr;
    throw std::bad_alloc();
  }
  // Not even the reserve could be had (or it was spent): there is no room
  // for an exception, so the run ends here with the same report.
  report_out_of_memory();
  std::exit(2);
}

}  // namespace

int run_vandrel(int argc, char **argv) {
  g_reserve = std::malloc(kReserveBytes);
  const std::new_handler previous = std::set_new_handler(out_of_memory);
  const int status = run_reporting(argc, argv);
  std::set_new_handler(previous);
  std::free(g_reserve);
  g_reserve = nullptr;
  return status;
}
