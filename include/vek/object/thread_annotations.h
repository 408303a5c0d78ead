// Lock annotations for clang's thread-safety analysis.
//
// The macros state which lock guards a field and which locks a function
// needs, takes or gives back, so that a clang build with -Wthread-safety
// checks the lock rules at compile time. They expand to nothing for other
// compilers and change no generated code. The VEK_ prefix keeps them apart
// from a host program's own macros of the same purpose.
//
// Thread safety: macros only.
#ifndef VEK_OBJECT_THREAD_ANNOTATIONS_H
#define VEK_OBJECT_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define VEK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VEK_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks. Like VEK_SCOPED_CAPABILITY it may also
// follow the closing brace, which keeps "class VEK_API name" whole.
#define VEK_CAPABILITY(name) VEK_THREAD_ANNOTATION(capability(name))
// A class that holds a lock for its lifetime.
#define VEK_SCOPED_CAPABILITY VEK_THREAD_ANNOTATION(scoped_lockable)
// The field is read and written only with the lock held.
#define VEK_GUARDED_BY(x) VEK_THREAD_ANNOTATION(guarded_by(x))
// What the pointer field points to is used only with the lock held.
#define VEK_PT_GUARDED_BY(x) VEK_THREAD_ANNOTATION(pt_guarded_by(x))
// The caller holds the locks.
#define VEK_REQUIRES(...) VEK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The caller must not hold the locks (the function takes them).
#define VEK_EXCLUDES(...) VEK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function takes the locks and returns holding them.
#define VEK_ACQUIRE(...) VEK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// The function lets go of locks the caller held.
#define VEK_RELEASE(...) VEK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The same for the shared (reader) side of a lock.
#define VEK_REQUIRES_SHARED(...) VEK_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define VEK_ACQUIRE_SHARED(...) VEK_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define VEK_RELEASE_SHARED(...) VEK_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
// The function returns a reference to the lock named.
#define VEK_RETURN_CAPABILITY(x) VEK_THREAD_ANNOTATION(lock_returned(x))
// Locks to be taken before / after this one.
#define VEK_ACQUIRED_BEFORE(...) VEK_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define VEK_ACQUIRED_AFTER(...) VEK_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// The function is not checked; each use says why.
#define VEK_NO_THREAD_SAFETY_ANALYSIS VEK_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif
