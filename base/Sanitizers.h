// Which sanitizer this build runs under, as GCC and clang both tell it: GCC
// defines its own macros, clang answers __has_feature.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OZ_ADDRESS_SANITIZER 1
#endif
#if __has_feature(thread_sanitizer)
#define OZ_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(OZ_ADDRESS_SANITIZER)
#define OZ_ADDRESS_SANITIZER 1
#endif
#if defined(__SANITIZE_THREAD__) && !defined(OZ_THREAD_SANITIZER)
#define OZ_THREAD_SANITIZER 1
#endif
