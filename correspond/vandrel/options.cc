#include "options.h"

#include <cstdio>
#include <string>
#include <vector>

#include "option_value.h"

void write_usage(FILE *stream) {
  std::fputs("\nVANDREL USAGE\n\tvandrel -p preamblestring -o postamble string\n", stream);
  std::fputs(
      "\t-s start number -e end number -f output file [-n a series of new number in image order] "
      "[-b long form output]\n",
      stream);
  std::fputs(
      "\t[-r means reverse image order] [-d minimum disparity] \n\t[-a image offset] [-x image "
      "extension] [-l minimum chain length]\n",
      stream);
  std::fputs("\t[-q divide count] \n", stream);
  std::fputs("\tdefault no reverse\n\tminimum disparity 5.0 pixels\n\tjpeg image type\n", stream);
  std::fputs("\n\n", stream);
}

namespace {

// "%d" and "%s" as the options have always been read: an unreadable value
// leaves the setting as it was.
void read_int(const char *text, int *value) { read_integer_option(text, value); }
void read_word(const char *text, std::string *value) { read_word_option(text, value); }

void set_new_number(TrackSettings *settings, int entry, const char *text) {
  std::vector<int> &table = settings->newNumbers;
  // Entries not yet in the table keep their own position number.
  while (static_cast<int>(table.size()) <= entry) table.push_back(static_cast<int>(table.size()));
  read_int(text, &table[static_cast<size_t>(entry)]);
}

}  // namespace

bool parse_command_line(int argc, char **argv, TrackSettings *settings) {
  if (argc < 3) return false;
  std::printf("Arg count %d\n", argc);
  for (int i = 1; i < argc; ++i) {
    // Only the second character names the option; an argument too short to
    // have one names none.
    const char *arg = argv[i];
    char letter = arg[0] != '\0' ? arg[1] : '\0';
    bool has_value = i + 1 < argc;
    switch (letter) {
      case 'p':
        if (!has_value) return false;
        read_word(argv[++i], &settings->preamble);
        break;
      case 'o':
        if (!has_value) return false;
        read_word(argv[++i], &settings->postamble);
        break;
      case 'f':
        if (!has_value) return false;
        read_word(argv[++i], &settings->outputFile);
        break;
      case 'x':
        if (!has_value) return false;
        settings->extension = argv[++i];
        break;
      case 's':
        if (!has_value) return false;
        read_int(argv[++i], &settings->startNumber);
        break;
      case 'e':
        if (!has_value) return false;
        read_int(argv[++i], &settings->endNumber);
        break;
      case 'd':
        if (!has_value) return false;
        read_int(argv[++i], &settings->minimumDisparity);
        break;
      // These three echo their setting even when the value is missing.
      case 'a':
        if (has_value) read_int(argv[++i], &settings->imageOffset);
        std::printf("Image offset %d\n", settings->imageOffset);
        if (!has_value) return false;
        break;
      case 'l':
        if (has_value) read_int(argv[++i], &settings->minimumChainLength);
        std::printf("Minimum chain length %d\n", settings->minimumChainLength);
        if (!has_value) return false;
        break;
      case 'q':
        if (has_value) read_int(argv[++i], &settings->divideCount);
        std::printf("Divide count %d\n", settings->divideCount);
        if (!has_value) return false;
        break;
      case 'b':
        settings->longForm = true;
        std::puts("Long form output file");
        break;
      case 'r':
        settings->reverse = true;
        std::puts("Reverse flag");
        break;
      case 'n': {
        // Every following argument up to the next one that starts with "-"
        // is a new number; -n as the last argument lacks its values. An
        // unreadable value leaves its entry at the position's own number.
        if (!has_value) return false;
        int entry = 0;
        while (i + 1 < argc && argv[i + 1][0] != '-') {
          ++i;
          ++entry;
          std::printf("argument %s\n", argv[i]);
          set_new_number(settings, entry, argv[i]);
          std::printf("Image number %d new number %d argc %d\n", entry,
                      settings->newNumbers[static_cast<size_t>(entry)], i);
        }
        break;
      }
      default:
        return false;
    }
  }
  return true;
}
