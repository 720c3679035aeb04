// Appending the readers' and writers' text to ImageMessages; internal to the
// image library.
#pragma once
#include "qorimage.h"

// printf-style text for standard output / standard error; nothing happens
// when `messages` is null.
void message_out(ImageMessages *messages, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void message_err(ImageMessages *messages, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
