// Clang thread-safety annotations; empty on other compilers.
#pragma once

#if defined(__clang__)
#define HALVYN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HALVYN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) HALVYN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY HALVYN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) HALVYN_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) HALVYN_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) HALVYN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) HALVYN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) HALVYN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) HALVYN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS HALVYN_THREAD_ANNOTATION(no_thread_safety_analysis)
