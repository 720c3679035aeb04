// GIF reading: the decoder of a whole GIF stream held in memory. read_gif
// (formats.h) reads the file and hands its bytes to decode_gif. Internal to
// the image library; exposed for its tests and fuzz driver.
#pragma once
#include <cstddef>

#include "qorimage.h"

// Largest width x height of one image that the reader decodes (67 million
// pixels, such as 8192 x 8192): an image's indices are held in memory and
// the last one becomes a 3-byte-per-pixel image, whatever the amount of data
// behind it (missing data reads as index 0). A descriptor declaring more
// (up to 65535 x 65535 is possible) makes the whole file unreadable before
// anything is allocated.
constexpr long kGifMaxPixels = 1L << 26;

// Parses a whole GIF stream and returns the last image of the file as an RGB
// image through its colour map, or null (no "GIF" signature, no image block,
// no colour map, an image larger than kGifMaxPixels, exhausted memory).
// Bytes past the end of `data` read as 0. Defective LZW data does not reject
// the stream: the affected rows keep index 0 from the point of failure.
QORImage *decode_gif(const unsigned char *data, size_t size);
