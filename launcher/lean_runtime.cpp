// Runtime hooks for the statically linked Windows executable; only
// "Kestlo desktop.exe" links this file, never the host build.
//
// The launcher is compiled without exceptions and never throws or catches.
// Its std::string and std::vector code still names a few libstdc++ helpers
// for failures it cannot handle (a length past max_size(), an allocation
// that fails, a string built from a null pointer). libstdc++'s definitions
// throw, and one throw links the whole exception runtime: some 200 KB. The
// linker's --wrap (windows-executable.cmake) sends each call to the
// definition below instead, which ends the process: exit code 3, nothing
// shown. Only running out of memory can get there: every length the launcher
// builds is bounded by the registry's buffers, and no string is built from null.
#include <cstdlib>
#include <new>

// Replaceable allocation functions, which the language lets a program define.
// Failure aborts instead of throwing std::bad_alloc.
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size ? size : 1)) return block;
    std::abort();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

#ifndef __clang__
// __wrap_ followed by the mangled name of each std::__throw_* helper.
extern "C" {
[[noreturn]] void __wrap__ZSt20__throw_length_errorPKc(const char*) { std::abort(); }
[[noreturn]] void __wrap__ZSt17__throw_bad_allocv() { std::abort(); }
[[noreturn]] void __wrap__ZSt19__throw_logic_errorPKc(const char*) { std::abort(); }
[[noreturn]] void __wrap__ZSt28__throw_bad_array_new_lengthv() { std::abort(); }
[[noreturn]] void __wrap__ZSt24__throw_out_of_range_fmtPKcz(const char*, ...) { std::abort(); }
}
#else
// lld 14 loads libstdc++'s functexcept.o for a wrapped symbol before it
// redirects the calls, so --wrap saves nothing there (228,352 bytes). The
// clang build defines the helpers in namespace std instead: not something a
// program may do, but libstdc++ resolves them at link time and the program's
// object comes before the library.
namespace std {
void __throw_length_error(const char*) { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std
#endif
