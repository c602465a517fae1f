#ifndef VESK_TESTS_CONSUMERS_PLUGINS_PLUGIN_API_H_
#define VESK_TESTS_CONSUMERS_PLUGINS_PLUGIN_API_H_

// What the two plugins export: one stores a measurement in the process-wide
// cache, the other looks it up there.
#define PLUGIN_API extern "C" __attribute__((visibility("default")))

PLUGIN_API void storeMeasurement(double width, double height);
PLUGIN_API bool readMeasurement(double* width, double* height);

#endif  // VESK_TESTS_CONSUMERS_PLUGINS_PLUGIN_API_H_
