// The parts of the C++ runtime that the module links in itself (it carries libstdc++ and the
// unwinder statically, so that it needs nothing at run time but the C library), written so
// that the module binds to no C library symbol newer than glibc 2.17, the manylinux2014 floor.
//
// The build machine's glibc is newer, and its libstdc++ and unwinder were built against it:
//  - The library's own throw helpers construct std::logic_error and friends, whose
//    reference-counted message strings pull in std::random_device (getentropy, arc4random) and
//    __libc_single_threaded. The module catches only its invariant failures and memory
//    exhaustion, so the three helpers it uses are defined here and throw exactly those.
//  - The exception machinery keeps each thread's caught exceptions in a thread-local record,
//    reached through __tls_get_addr of the dynamic loader, which the module would then name
//    beside the C library. It is defined here in the initial-exec model instead: a fixed
//    offset into the thread's static block, which glibc keeps room in for loaded modules.
//  - The unwinder finds a frame's unwind table with _dl_find_object (2.35), and guards its
//    one-time set-up with pthread_once and __pthread_key_create of their 2.34 versions. The
//    link wraps these three (-Wl,--wrap, see CMakeLists.txt): the pthread calls go to the
//    versions of the oldest glibc of the architecture, and the table is found by walking the
//    loaded objects' program headers, as the unwinder did before 2.35.
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>

#include <cxxabi.h>

#include <cstddef>
#include <new>

#include "chess/invariant.h"
#include "glibc_floor.h"

// std::__throw_* as the library declares them (bits/functexcept.h).
namespace std {

void __throw_bad_alloc() { throw std::bad_alloc(); }

// A size beyond max_size(): a request that no memory can hold.
void __throw_length_error(const char*) { throw std::bad_alloc(); }

// For example a string made from a null pointer: a bug, reported as one.
void __throw_logic_error(const char* what) { chess::invariant_failure(what); }

}  // namespace std

// The record as the C++ ABI lays it out (the library's unwind-cxx.h).
namespace __cxxabiv1 {

struct __cxa_exception;
struct __cxa_eh_globals {
    __cxa_exception* caughtExceptions;
    unsigned int uncaughtExceptions;
};

namespace {
thread_local __cxa_eh_globals eh_globals __attribute__((tls_model("initial-exec")));
}

extern "C" {
__cxa_eh_globals* __cxa_get_globals() noexcept { return &eh_globals; }
__cxa_eh_globals* __cxa_get_globals_fast() noexcept { return &eh_globals; }
}

}  // namespace __cxxabiv1

extern "C" {

int morvek_pthread_once(pthread_once_t*, void (*)());
int morvek_pthread_key_create(pthread_key_t*, void (*)(void*));
__asm__(".symver morvek_pthread_once, pthread_once@" MORVEK_GLIBC_BASE);
__asm__(".symver morvek_pthread_key_create, __pthread_key_create@" MORVEK_GLIBC_BASE);

int __wrap_pthread_once(pthread_once_t* once, void (*init)()) {
    return morvek_pthread_once(once, init);
}

int __wrap___pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
    return morvek_pthread_key_create(key, destructor);
}

namespace {

struct Lookup {
    ElfW(Addr) pc;
    dl_find_object* result;
};

int look_in(dl_phdr_info* info, std::size_t, void* data) {
    auto* lookup = static_cast<Lookup*>(data);
    bool holds_pc = false;
    ElfW(Addr) start = ~ElfW(Addr){0}, end = 0;
    void* eh_frame = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const auto& header = info->dlpi_phdr[i];
        const ElfW(Addr) first = info->dlpi_addr + header.p_vaddr;
        if (header.p_type == PT_LOAD) {
            const ElfW(Addr) last = first + header.p_memsz;
            holds_pc = holds_pc || (lookup->pc >= first && lookup->pc < last);
            start = first < start ? first : start;
            end = last > end ? last : end;
        } else if (header.p_type == PT_GNU_EH_FRAME) {
            eh_frame = reinterpret_cast<void*>(first);
        }
    }
    if (!holds_pc) return 0;
    *lookup->result = dl_find_object{};
    lookup->result->dlfo_map_start = reinterpret_cast<void*>(start);
    lookup->result->dlfo_map_end = reinterpret_cast<void*>(end);
    lookup->result->dlfo_eh_frame = eh_frame;
    return 1;
}

}  // namespace

// glibc's contract: 0 and the object's mapping and unwind table, or -1 when no loaded object
// holds the address.
int __wrap__dl_find_object(void* pc, dl_find_object* result) {
    Lookup lookup{reinterpret_cast<ElfW(Addr)>(pc), result};
    return dl_iterate_phdr(look_in, &lookup) ? 0 : -1;
}

}  // extern "C"
