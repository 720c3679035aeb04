// Annotated copies of ostrel's input images: the supporting matches drawn
// in red onto an image and written as a JPEG file.
#pragma once
#include <cstdint>

#include "matchio.h"

// Reads `image_name`, draws for every match whose support flag is set a line
// from its `from` position to its `to` position and a square mark of
// half-size 2 around the `to` position, and writes the result with JPEG
// quality 80 as "<image_name>-<partner_name>.matches.TM.jpg" (a missing
// partner name leaves that part empty). Positions are truncated toward zero;
// a match with an end outside the image is not drawn. An image that cannot
// be read is reported on standard output and skipped (returns 0). Returns 1
// when the annotated image was written and -1 when it could not be written
// (the writer has said why).
int write_annotated_image(const char *image_name, const char *partner_name,
                          const MatchRecord *matches, int count, const int32_t *support,
                          MatchPoint MatchRecord::*from, MatchPoint MatchRecord::*to);
