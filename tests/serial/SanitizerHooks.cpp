// Defaults for the thread checker in the serial tests. Qt itself is not
// instrumented, so synchronisation inside it (QtTest's watchdog thread) is
// not seen; and QProcess forks a threaded process on purpose.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QWaitCondition::~QWaitCondition\n"
           "called_from_lib:libQt6Test.so.6\n";
}

extern "C" const char* __tsan_default_options() {
    return "die_after_fork=0";
}
