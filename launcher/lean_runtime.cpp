// Runtime hooks for the statically linked Windows executable; only
// "Kestlo desktop.exe" links this file, never the host build.
//
// The launcher is compiled without exceptions and never throws or catches.
// Its std::string and std::vector code, instantiated in its own objects,
// still names a few libstdc++ functions for the failures it cannot handle
// (a length past max_size(), an allocation that fails, a string built from a
// null pointer). libstdc++'s own definitions of them throw, and one throw in
// the file links the whole exception runtime: the unwinder, the personality
// routine, the verbose terminate handler and its demangler, some 200 KB. The
// definitions below end the process instead. Each one is needed: take it out
// and the link pulls in libstdc++'s (the file check names what must stay out).
//
// What a failure then does: abort() ends the process at once with exit code 3
// and nothing shown, instead of the launcher's usual 0. Only running out of
// memory can get there: every length the launcher builds is bounded by the
// registry's buffers (at most a few KB), and no string is built from null.
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

// The throw helpers that the launcher's library code calls. The standard
// reserves namespace std; libstdc++ declares these in bits/functexcept.h and
// resolves them at link time, so the program's definition is linked in place
// of the library's throwing one. Without link-time optimisation the first
// three are referenced; with it (the release build) all five, because the
// link sees every call in the library code before inlining removes it.
namespace std {
// std::string and std::vector: a size past max_size().
void __throw_length_error(const char*) { std::abort(); }
// std::allocator: a request for more bytes than can be addressed.
void __throw_bad_alloc() { std::abort(); }
// std::string constructed from a null const char*.
void __throw_logic_error(const char*) { std::abort(); }
// std::allocator: an element count past the largest array.
void __throw_bad_array_new_length() { std::abort(); }
// std::string_view and std::string: a position past the end (substr, copy).
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std
