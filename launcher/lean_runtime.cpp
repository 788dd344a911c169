// Size measures for the statically linked Windows executable; only
// "Kestlo desktop.exe" links this file.
//
// The launcher never throws or catches: its only possible C++ exceptions are
// allocation failures inside std::string and std::vector, which it cannot
// recover from anyway. Defining these few runtime hooks here, instead of
// taking libstdc++'s, keeps the exception machinery (the C++ demangler, the
// DWARF unwinder, printf's floating-point formatting) out of the file.
#include <cstdlib>
#include <new>

namespace __gnu_cxx {
// libstdc++'s default terminate handler demangles and prints the exception's
// type name: it alone pulls in the demangler and printf.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
// What std::string and std::vector call on a length or allocation failure:
// stop the process instead of throwing.
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
}  // namespace std

// Allocation without exceptions: out of memory ends the process.
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size ? size : 1)) return block;
    std::abort();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
