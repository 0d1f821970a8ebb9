// AddressSanitizer's options for the fuzzers. Freed memory waits in quarantine, poisoned, to catch
// a later use; by default up to 256 MiB of it, so that a fuzzer running thousands of short inputs
// a second touches fresh pages all the time (a fifth of its time in page faults). An input frees
// far less than 16 MiB, which still keeps the frees of many inputs before it poisoned. Each
// allocation keeps the five innermost calls that made it, not thirty: walking and storing the
// stack was a tenth of the reading fuzzer's time, and a finding's input replays with the full
// stack (ASAN_OPTIONS=malloc_context_size=30).
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16:malloc_context_size=5";
}
