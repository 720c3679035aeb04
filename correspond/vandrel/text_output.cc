#include "text_output.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

void flush_text(TextOutput *out) {
  if (out->used_ > 0) std::fwrite(out->text_, 1, out->used_, out->stream_);
  out->used_ = 0;
}

void discard_text(TextOutput *out) { out->used_ = 0; }

void put_text(TextOutput *out, const char *text) {
  std::size_t n = std::strlen(text);
  if (out->used_ + n > TextOutput::kCapacity) flush_text(out);
  if (n > TextOutput::kCapacity) {
    std::fwrite(text, 1, n, out->stream_);
    return;
  }
  std::memcpy(out->text_ + out->used_, text, n);
  out->used_ += n;
}

namespace {

const uint64_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                 100000, 1000000, 10000000, 100000000, 1000000000};

// Writes |v| < 1e9 with 0..9 decimals at `p` and returns the end. The
// double is m * 2^-s exactly, so v * 10^decimals is m * 10^decimals / 2^s:
// an integer below 2^83 divided by a power of two, which 128-bit arithmetic
// rounds exactly, to nearest with ties to even as printf does.
char *format_small_fixed(char *p, double v, int decimals) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  if (bits >> 63) *p++ = '-';
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  if (exponent != 0)
    mantissa |= uint64_t{1} << 52;
  else
    exponent = 1;  // subnormal or zero
  // v = mantissa * 2^(exponent - 1075); below 1e9 the power is negative.
  int shift = 1075 - exponent;
  unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * kPowersOfTen[decimals];
  uint64_t q = 0;
  if (shift < 128) {
    unsigned __int128 whole = scaled >> shift;
    unsigned __int128 rest = scaled - (whole << shift);
    unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    q = static_cast<uint64_t>(whole);
    if (rest > half || (rest == half && (q & 1))) ++q;
  }
  uint64_t integer = q / kPowersOfTen[decimals];
  uint64_t fraction = q % kPowersOfTen[decimals];
  p = std::to_chars(p, p + 24, integer).ptr;
  if (decimals > 0) {
    *p++ = '.';
    for (int i = decimals - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    p += decimals;
  }
  return p;
}

}  // namespace

void put_fixed(TextOutput *out, double v, int decimals) {
  if (std::isnan(v)) {
    put_text(out, std::signbit(v) ? "-nan" : "nan");
    return;
  }
  if (out->used_ + TextOutput::kNumberRoom > TextOutput::kCapacity) flush_text(out);
  if (decimals >= 0 && decimals <= 9 && std::fabs(v) < 1e9) {
    char *first = out->text_ + out->used_;
    out->used_ += static_cast<std::size_t>(format_small_fixed(first, v, decimals) - first);
    return;
  }
  char *first = out->text_ + out->used_;
  std::to_chars_result r = std::to_chars(first, out->text_ + TextOutput::kCapacity, v,
                                         std::chars_format::fixed, decimals);
  if (r.ec == std::errc()) {
    out->used_ += static_cast<std::size_t>(r.ptr - first);
    return;
  }
  // Only far more decimals than the listings use can get here.
  flush_text(out);
  std::fprintf(out->stream_, "%.*f", decimals, v);
}

void put_integer(TextOutput *out, long long v) {
  if (out->used_ + TextOutput::kNumberRoom > TextOutput::kCapacity) flush_text(out);
  char *first = out->text_ + out->used_;
  std::to_chars_result r = std::to_chars(first, out->text_ + TextOutput::kCapacity, v);
  out->used_ += static_cast<std::size_t>(r.ptr - first);
}
