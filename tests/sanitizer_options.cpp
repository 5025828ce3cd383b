// What the sanitizers are told in the test programs of a sanitizer build, so that a plain run
// of a test binary behaves as under CTest: a fault fails the test at once, and what the
// desktop's own libraries do is left out (the suppression files say what and why). The
// sanitizers' own environment variables still add to these.

#ifndef VARNEK_TESTS_DIR
#error "VARNEK_TESTS_DIR names the folder of the suppression files"
#endif

extern "C" const char* __tsan_default_options()
{
    return "halt_on_error=1:second_deadlock_stack=1:suppressions=" VARNEK_TESTS_DIR "/tsan.supp";
}

extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

extern "C" const char* __lsan_default_options() { return "suppressions=" VARNEK_TESTS_DIR "/lsan.supp"; }
