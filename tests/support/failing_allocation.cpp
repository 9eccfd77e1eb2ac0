// Array allocations of the test programs, which fail while failArrayAllocations is set: a throwing
// one with std::bad_alloc, a non-throwing one with a null pointer. Each forwards to the single-object
// forms, and so do the matching deletes.
#include <new>

#include "tests/support/folder.h"

bool failArrayAllocations = false;

void* operator new[](std::size_t size) {
    if (failArrayAllocations) throw std::bad_alloc();
    return ::operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return failArrayAllocations ? nullptr : ::operator new(size, std::nothrow);
}
void operator delete[](void* pointer) noexcept { ::operator delete(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { ::operator delete(pointer); }
