#pragma once

// Clang thread-safety annotations. Under Clang with -Wthread-safety the compiler checks that
// every access to a GUARDED_BY field happens with its mutex held; under other compilers the
// macros expand to nothing. Use them with the annotated `Mutex` of platform/Mutex.h (the standard
// library's mutex carries no annotations in libstdc++).

#if defined(__clang__)
#define VARNEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VARNEL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VARNEL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VARNEL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VARNEL_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VARNEL_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VARNEL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VARNEL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VARNEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VARNEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VARNEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VARNEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VARNEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) VARNEL_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VARNEL_THREAD_ANNOTATION(no_thread_safety_analysis)
