// PCT image files: a 288-byte ASCII header behind an 8-byte length field,
// then the pixel data, raw or in the lossless predictive Huffman coding.
// read_pct (formats.h) reads the file and hands its bytes to decode_pct.
// Internal to the image library; exposed for its tests and fuzz driver.
#pragma once
#include <cstddef>

#include "qorimage.h"

// Fatal faults of the reader (a wrong header length field, a depth that
// PixPerByte refuses, an invalid predictor, no memory for the code-size list)
// make it abandon the file, release what it holds and return null (or 0),
// with the fault's message appended to messages->err and messages->fatal_status
// set to the status the programs end with (1, or -1 for the header length
// field). `messages` may be null.

// Pixels per byte of a depth: 8, 4, 2, 1, 0.5, 0.25 for 1, 2, 4, 8, 16 and 32
// bits. Any other depth is fatal (status 1) and gives 0.
double PixPerByte(int depth, ImageMessages *messages = nullptr);

// Decodes the lossless-coded data (Huffman table, predictor, entropy-coded
// differences) into width * height bytes at `out`, which has room for
// `capacity` bytes. Returns 1 on success and 0 when the data is unreadable:
// a table that does not fit the data, a code longer than 10 bits or without
// a symbol, a category above 9, the data running out, or the output
// running past `capacity`. An invalid predictor is fatal (status 1) at the
// first pixel that uses it.
int decode_lossless(const unsigned char *data, size_t length, int width, int height, int depth,
                    unsigned char *out, size_t capacity, ImageMessages *messages = nullptr);

// Reads a whole PCT file held in memory; null when it is unreadable.
QORImage *decode_pct(const unsigned char *data, size_t size, ImageMessages *messages = nullptr);
