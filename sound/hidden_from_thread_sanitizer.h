#pragma once
// JACK's lock-free ring buffers hand bytes from one thread to another behind memory fences,
// inside a library that ThreadSanitizer does not follow, so it takes every copy into one for a
// race with the copy out of it. Reporting that, even only to suppress it, keeps the JACK
// thread busy for long enough that the server drops the client. So in a ThreadSanitizer build
// the copies into the buffers are hidden from it; in any other build this is nothing.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();

class HiddenFromThreadSanitizer {
public:
    HiddenFromThreadSanitizer() { __tsan_ignore_thread_begin(); }
    ~HiddenFromThreadSanitizer() { __tsan_ignore_thread_end(); }
    HiddenFromThreadSanitizer(const HiddenFromThreadSanitizer&) = delete;
    HiddenFromThreadSanitizer& operator=(const HiddenFromThreadSanitizer&) = delete;
};
#else
class HiddenFromThreadSanitizer {
public:
    HiddenFromThreadSanitizer() {} // user-provided, so that a guard is not taken for unused
};
#endif
