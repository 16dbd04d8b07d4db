// Runtime dispatch of the hot loops: where the loader supports it, a function marked
// VESK1_DISPATCH is compiled twice, once for processors with AVX2 and FMA and once for any
// x86-64, and the loader binds the better one on first call. No processor feature is required.
// Not under ThreadSanitizer: the loader runs the choosing code before the sanitizer's run-time
// is ready, and the instrumented code crashes there.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define VESK1_DISPATCH __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define VESK1_DISPATCH
#endif
