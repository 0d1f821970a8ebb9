// AddressSanitizer's options for the fuzzers. Freed memory waits in quarantine, poisoned, to catch
// a later use; by default up to 256 MiB of it, so that a fuzzer running thousands of short inputs
// a second touches fresh pages all the time (a fifth of its time in page faults). An input frees
// far less than 16 MiB, which still keeps the frees of many inputs before it poisoned.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
