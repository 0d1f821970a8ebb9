#pragma once
// Game functions, and the handlers that generated stubs call, use the Microsoft x64 calling
// convention in both builds. On Windows it is the only convention; elsewhere GCC is told.
#if defined(_WIN32)
#define FREEPLOT_MSABI
#else
#define FREEPLOT_MSABI __attribute__((ms_abi))
#endif

// A function that must stay a call of its own (the handlers keep their rare, heavy part apart
// from the quick exit that most events take).
#if defined(_MSC_VER)
#define FREEPLOT_NOINLINE __declspec(noinline)
#else
#define FREEPLOT_NOINLINE __attribute__((noinline))
#endif
