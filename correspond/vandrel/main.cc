// vandrel: chains the triplet files of a numbered image sequence into point
// tracks and writes them as "mp" lines.
#include <cstdio>

#include "vandrel_run.h"

int main(int argc, char **argv) {
  int status = run_vandrel(argc, argv);
  std::fflush(stdout);
  return status;
}
