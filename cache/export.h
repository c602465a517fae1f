#ifndef VESK_CACHE_EXPORT_H_
#define VESK_CACHE_EXPORT_H_

// Marks the declarations a shared build of vesk exports. Its libraries are
// compiled with hidden visibility, so everything else stays private to them;
// in a static build the mark changes nothing.
#if defined(__GNUC__)
#define VESK_EXPORT __attribute__((visibility("default")))
#else
#define VESK_EXPORT
#endif

#endif  // VESK_CACHE_EXPORT_H_
