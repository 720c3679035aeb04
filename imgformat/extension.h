// Extension lookup behind image_read and image_write; internal to the image
// library (exposed for its tests).
#pragma once

// Rows of the extension table, in the order they are compared.
enum ImageFormatKind {
  FORMAT_NONE = 0,  // no extension, or none of the table's
  FORMAT_JPEG,      // ".jpg", ".jpeg"
  FORMAT_TIFF,      // ".tif", ".tiff"
  FORMAT_GIF,       // ".gif"
  FORMAT_PNG,       // ".png"
  FORMAT_PGM,       // ".pgm"
  FORMAT_PPM,       // ".ppm"
  FORMAT_BMP,       // ".bmp"
  FORMAT_PCT        // ".pct"
};

// Longest extension (dot included) that the lookup buffer holds.
enum { IMAGE_EXTENSION_MAX = 5 };

// Copies the extension of `name` into `extension` (IMAGE_EXTENSION_MAX
// characters plus a terminator) and returns its length k, dot included.
// The extension runs from the last '.' of the whole name to its end;
// directory separators do not stop the search. A name without a dot, or
// whose only dot is its first character, has none: the result is 0 and
// `extension` is empty. An extension too long for the buffer gives its
// length but leaves `extension` empty. With `lower_case` the copied
// characters are turned to lower case.
int image_extension(const char *name, char extension[IMAGE_EXTENSION_MAX + 1], bool lower_case);

// The first table row whose extension agrees with the name's extension over
// the extension's own k characters (so a leading part of an entry, such as
// ".jp", ".t" or a bare ".", selects that entry).
ImageFormatKind image_format_of(const char *name, bool lower_case);
