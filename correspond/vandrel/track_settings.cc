#include "track_settings.h"

long long renumbered_position(const TrackSettings &settings, long long position) {
  if (position >= 0 && position < static_cast<long long>(settings.newNumbers.size()))
    return settings.newNumbers[static_cast<size_t>(position)];
  return position;
}
