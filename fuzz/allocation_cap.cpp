// Most mutated headers announce large images that the data never fills. Under AddressSanitizer
// each such buffer costs a tenth of a second to map and poison, so buffers above 64 MiB are
// refused as if memory were exhausted: the library's path for that case, and a fast one. malloc
// then returns a null pointer; but AddressSanitizer's own operator new ends the process with an
// out-of-memory report instead of throwing, an end that no real program meets. So the throwing
// forms of operator new are replaced here: they take AddressSanitizer's malloc, which still
// checks every access, and throw std::bad_alloc when it refuses. AddressSanitizer's operator
// delete releases what they allocate, once it is told not to hold malloc and delete apart.
#include <stdlib.h>

#include <algorithm>
#include <new>

namespace {

void* allocate(std::size_t size, std::size_t alignment) {
    void* memory = nullptr;
    // posix_memalign takes no alignment below a pointer's.
    if (posix_memalign(&memory, std::max(alignment, sizeof(void*)), size) == 0) return memory;
    throw std::bad_alloc();
}

}  // namespace

extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=64:allocator_may_return_null=1:alloc_dealloc_mismatch=0";
}

void* operator new(std::size_t size) {
    return allocate(size, __STDCPP_DEFAULT_NEW_ALIGNMENT__);
}
void* operator new[](std::size_t size) {
    return allocate(size, __STDCPP_DEFAULT_NEW_ALIGNMENT__);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
