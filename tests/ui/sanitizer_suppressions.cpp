// Leak-checker suppressions for the widget tests: the font library keeps its caches until the process
// ends, which the address sanitizer's leak check would otherwise report.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
