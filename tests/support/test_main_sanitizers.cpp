// The sanitizers' settings for every test executable. They are built in rather than passed in
// the environment, so that a test run by hand behaves as one run by ctest. The runtimes look
// these functions up at start; without a sanitizer nothing calls them.

extern "C" {

const char *__asan_default_options()
{
    return "detect_leaks=1:abort_on_error=1";
}

const char *__ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}

// Qt and the system libraries keep a few process-lifetime allocations.
const char *__lsan_default_suppressions()
{
    return "leak:libQt6Core\nleak:libQt6Gui\nleak:libfontconfig\nleak:libdbus\n";
}

} // extern "C"
