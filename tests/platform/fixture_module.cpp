// A library for the module-loading tests.
extern "C" __attribute__((visibility("default"))) int ostraFixtureAnswer() {
    return 42;
}
