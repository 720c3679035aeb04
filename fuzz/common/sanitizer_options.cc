// Sanitizer settings built into every fuzz target.
//
// A few bytes can declare an image of millions of pixels, and the readers
// allocate what the header declares (within their own limits). Allocations
// above 32 MB therefore fail here, as they would on a small machine: the
// reader must then take its exhausted-memory path and return null, which
// is tested at the same time, and the fuzzer does not spend its time
// clearing huge blocks.
extern "C" const char *__asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=32";
}
