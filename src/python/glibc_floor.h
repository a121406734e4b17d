// The oldest glibc symbol version of each architecture the module is built for: the version
// that the module binds the C library's calls to where the build machine's glibc would bind a
// newer one, so that the module loads on glibc 2.17 (manylinux2014).
#pragma once

#if defined(__x86_64__)
#define MORVEK_GLIBC_BASE "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define MORVEK_GLIBC_BASE "GLIBC_2.17"
#else
#error "no oldest glibc version known for this architecture"
#endif
