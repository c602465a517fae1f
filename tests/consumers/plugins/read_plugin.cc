#include <vesk/measurement_cache.h>

#include "plugin_api.h"
#include "plugin_key.h"

bool readMeasurement(double* width, double* height) {
  morvane::vesk::CachedSize size;
  if (!morvane::vesk::MeasurementCache::shared().get(pluginKey(), size)) {
    return false;
  }
  *width = size.width;
  *height = size.height;
  return true;
}
