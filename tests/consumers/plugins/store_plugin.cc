#include <vesk/measurement_cache.h>

#include "plugin_api.h"
#include "plugin_key.h"

void storeMeasurement(double width, double height) {
  morvane::vesk::MeasurementCache::shared().set(pluginKey(), {width, height});
}
