// Lines that the numerical routines report while a computation goes on
// ("Failed Jacobi\n", "Failed SVD\n"). They reach the sink that the caller
// installed on the calling thread for the lifetime of a NumericNoteScope;
// without a scope they are dropped. Scopes nest: the innermost one receives
// the lines, and its end restores the one outside it.
#pragma once

using NumericNoteSink = void (*)(void *context, const char *line);

class NumericNoteScope {
 public:
  NumericNoteScope(NumericNoteSink sink, void *context);
  ~NumericNoteScope();
  NumericNoteScope(const NumericNoteScope &) = delete;
  NumericNoteScope &operator=(const NumericNoteScope &) = delete;

 private:
  NumericNoteSink previous_sink_;
  void *previous_context_;
};

// Hands `line` to the sink of the calling thread, if any.
void numeric_note(const char *line);
