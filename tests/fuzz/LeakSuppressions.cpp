// The fuzz executables' leak checks, as the test build's: what the font
// library keeps until exit is its own cache, not a leak of ours.

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
