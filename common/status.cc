#include "status.h"

const char *status_text(Status status) {
  switch (status) {
    case Status::ok:
      return "success";
    case Status::cannot_open:
      return "cannot open file";
    case Status::cannot_write:
      return "cannot write file";
    case Status::out_of_memory:
      return "out of memory";
    case Status::empty_input:
      return "no data in input";
    case Status::bad_input:
      return "malformed input";
    case Status::too_few:
      return "not enough data";
    case Status::numeric_failure:
      return "numerical computation failed";
    case Status::invalid_argument:
      return "invalid argument";
  }
  return "unknown status";
}
