// Whether this build runs under AddressSanitizer. GCC says so with a macro and clang only through
// a feature test; code that keeps blocks of its own (pools, free lists) must know under both,
// since the leak checker does not look inside those blocks for the pointers they hold and would
// take what they own for lost.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define IE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IE_ADDRESS_SANITIZER 1
#endif
#endif

// Whether a leak checker looks at what is left at the end (AddressSanitizer's, or LeakSanitizer
// alone): such a build must free everything it made, however long that takes.
#if defined(IE_ADDRESS_SANITIZER) || defined(__SANITIZE_LEAK__)
#define IE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(leak_sanitizer)
#define IE_LEAK_CHECKED 1
#endif
#endif
