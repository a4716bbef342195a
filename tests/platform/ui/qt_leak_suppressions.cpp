// fontconfig keeps caches for the life of the process; they are no leak of ours. LeakSanitizer
// asks every program for this list.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
