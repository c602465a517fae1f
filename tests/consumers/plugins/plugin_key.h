#ifndef VESK_TESTS_CONSUMERS_PLUGINS_PLUGIN_KEY_H_
#define VESK_TESTS_CONSUMERS_PLUGINS_PLUGIN_KEY_H_

#include <vesk/measurement_cache_key.h>

// The key both plugins use.
inline morvane::vesk::MeasurementCacheKey pluginKey() {
  morvane::vesk::MeasurementCacheKey key{};
  key.markdown = "measured by one plugin, read by the other";
  return key;
}

#endif  // VESK_TESTS_CONSUMERS_PLUGINS_PLUGIN_KEY_H_
