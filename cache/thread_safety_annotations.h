#ifndef VESK_CACHE_THREAD_SAFETY_ANNOTATIONS_H_
#define VESK_CACHE_THREAD_SAFETY_ANNOTATIONS_H_

// Annotations for clang's thread-safety analysis (-Wthread-safety): they let
// the compiler reject a read or write of guarded data outside its lock. Other
// compilers see nothing: every macro expands to nothing there.

#if defined(__clang__)
#define VESK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VESK_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define VESK_CAPABILITY(name) VESK_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime.
#define VESK_SCOPED_CAPABILITY VESK_THREAD_ANNOTATION(scoped_lockable)
// Data that may be touched only while the given lock is held.
#define VESK_GUARDED_BY(lock) VESK_THREAD_ANNOTATION(guarded_by(lock))
// A function that must be called with the given locks held.
#define VESK_REQUIRES(...) \
  VESK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that must be called with the given locks held at least shared.
#define VESK_REQUIRES_SHARED(...) \
  VESK_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// A function that must be called without the given locks held.
#define VESK_EXCLUDES(...) VESK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes the given locks (or, on a lock, the lock itself).
#define VESK_ACQUIRE(...) \
  VESK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that takes the lock when it returns `result`.
#define VESK_TRY_ACQUIRE(...) \
  VESK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that takes the lock shared when it returns `result`.
#define VESK_TRY_ACQUIRE_SHARED(...) \
  VESK_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
// A function that releases a shared hold of the given locks (or the lock).
#define VESK_RELEASE_SHARED(...) \
  VESK_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
// A function that releases the given locks (or the lock itself).
#define VESK_RELEASE(...) \
  VESK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function whose locking the analysis does not check; each use says why.
#define VESK_NO_THREAD_SAFETY_ANALYSIS \
  VESK_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // VESK_CACHE_THREAD_SAFETY_ANNOTATIONS_H_
