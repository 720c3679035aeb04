#include "annotate.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "qorimage.h"

namespace {

// Pixel of a match position, truncated toward zero, when it lies inside the
// image. The comparison is made on the doubles first, so no out-of-range or
// non-finite value is ever converted to int. An absent position (-1, -1)
// fails it too.
bool match_pixel(const QORImage *image, const MatchPoint &p, int *x, int *y) {
  if (!(p.x > -1.0 && p.x < image->width && p.y > -1.0 && p.y < image->height)) return false;
  *x = static_cast<int>(p.x);
  *y = static_cast<int>(p.y);
  return true;
}

}  // namespace

int write_annotated_image(const char *image_name, const char *partner_name,
                          const MatchRecord *matches, int count, const int32_t *support,
                          MatchPoint MatchRecord::*from, MatchPoint MatchRecord::*to) {
  // Names of any length: the output name is built in a string, never in a
  // fixed buffer.
  const std::string out =
      std::string(image_name) + "-" + (partner_name ? partner_name : "") + ".matches.TM.jpg";
  ImageMessages messages;
  QORImage *image = image_read(image_name, &messages);
  std::fputs(messages.out.c_str(), stdout);
  std::fputs(messages.err.c_str(), stderr);
  if (messages.fatal_status != 0) {
    std::fflush(stdout);
    std::exit(messages.fatal_status);
  }
  if (!image) {
    std::printf("Cannot read image %s: no annotated copy written\n", image_name);
    return 0;
  }
  const ImageColour red = {{255, 0, 0}};
  for (int i = 0; i < count; ++i) {
    int x1, y1, x2, y2;
    if (!support[i]) continue;
    if (!match_pixel(image, matches[i].*from, &x1, &y1) ||
        !match_pixel(image, matches[i].*to, &x2, &y2))
      continue;
    image_draw_line(image, x1, y1, x2, y2, red);
    image_draw_mark(image, x2, y2, 2, red);
  }
  messages = ImageMessages();
  const Status status = image_write(out.c_str(), image, 80, &messages);
  image_free(image);
  std::fputs(messages.out.c_str(), stdout);
  std::fputs(messages.err.c_str(), stderr);
  if (messages.fatal_status != 0) std::exit(messages.fatal_status);
  return status == Status::ok ? 1 : -1;
}
