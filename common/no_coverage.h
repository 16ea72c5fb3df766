#pragma once

// Marks a loop over samples whose path is the same whatever their values (a copy, a shift, a
// format conversion). In a fuzzing build each of its comparisons would call the fuzzer's
// coverage tracing once per sample and tell it nothing; the sanitizers still check it. Kept
// out of line, or it would be instrumented as part of its caller.
#if defined(__clang__) && __clang_major__ >= 13
#define KESTRUNE_NO_COVERAGE __attribute__((no_sanitize("coverage"), noinline))
#else
#define KESTRUNE_NO_COVERAGE
#endif
