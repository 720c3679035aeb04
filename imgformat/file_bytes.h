// Whole-file reading for the decoders that work on a byte buffer (GIF, PCT).
#pragma once
#include <vector>

// Reads the whole file into *bytes; false when it cannot be opened.
bool read_file_bytes(const char *name, std::vector<unsigned char> *bytes);
