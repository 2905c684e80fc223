// Leak-checker settings for the acquisition tests, which create and destroy Qt application objects.
// Third-party leaks only: the font library keeps its caches until the process ends, and Qt's
// off-screen platform plug-in keeps its screen and cursor objects when the application object that
// created them is destroyed. Matching the plug-in needs whole stacks, which the fast unwinder does not
// give through Qt's libraries.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libqoffscreen.so\n";
}
