#include "numeric_note.h"

namespace {
// Per thread, so that computations on several threads never mix their lines.
thread_local NumericNoteSink current_sink = nullptr;
thread_local void *current_context = nullptr;
}  // namespace

NumericNoteScope::NumericNoteScope(NumericNoteSink sink, void *context)
    : previous_sink_(current_sink), previous_context_(current_context) {
  current_sink = sink;
  current_context = context;
}

NumericNoteScope::~NumericNoteScope() {
  current_sink = previous_sink_;
  current_context = previous_context_;
}

void numeric_note(const char *line) {
  if (current_sink != nullptr) current_sink(current_context, line);
}
