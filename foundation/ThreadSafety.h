// Clang's thread-safety attributes behind short macros, so each lock is
// declared next to the data it guards and a clang build (-Wthread-safety)
// turns "touched without its lock" into a compile error. Under g++ they vanish.
#pragma once

#if defined(__clang__)
#define KELM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KELM_THREAD_ANNOTATION(x)
#endif

#define KELM_CAPABILITY(name) KELM_THREAD_ANNOTATION(capability(name))
#define KELM_SCOPED_CAPABILITY KELM_THREAD_ANNOTATION(scoped_lockable)
#define KELM_GUARDED_BY(lock) KELM_THREAD_ANNOTATION(guarded_by(lock))
#define KELM_PT_GUARDED_BY(lock) KELM_THREAD_ANNOTATION(pt_guarded_by(lock))
#define KELM_REQUIRES(...) KELM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define KELM_EXCLUDES(...) KELM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define KELM_ACQUIRE(...) KELM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KELM_RELEASE(...) KELM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KELM_TRY_ACQUIRE(...) KELM_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define KELM_NO_THREAD_SAFETY_ANALYSIS KELM_THREAD_ANNOTATION(no_thread_safety_analysis)
