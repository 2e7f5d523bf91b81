// operator new and delete over the process heap, and std::nothrow.
#include <new>

#include "platform/crt/crt.h"

namespace std {
const nothrow_t nothrow{};
}

namespace {

void* Allocate(size_t cb) { return HeapAlloc(GetProcessHeap(), 0, cb != 0 ? cb : 1); }

void Release(void* pv) {
    if (pv != nullptr) HeapFree(GetProcessHeap(), 0, pv);
}

void* AllocateOrEnd(size_t cb) {
    void* pv = Allocate(cb);
    if (pv == nullptr) ExitProcess(kExitNoMemory);
    return pv;
}

}  // namespace

void* operator new(size_t cb) { return AllocateOrEnd(cb); }
void* operator new[](size_t cb) { return AllocateOrEnd(cb); }
void* operator new(size_t cb, const std::nothrow_t&) noexcept { return Allocate(cb); }
void* operator new[](size_t cb, const std::nothrow_t&) noexcept { return Allocate(cb); }
void operator delete(void* pv) noexcept { Release(pv); }
void operator delete[](void* pv) noexcept { Release(pv); }
void operator delete(void* pv, size_t) noexcept { Release(pv); }
void operator delete[](void* pv, size_t) noexcept { Release(pv); }
void operator delete(void* pv, const std::nothrow_t&) noexcept { Release(pv); }
void operator delete[](void* pv, const std::nothrow_t&) noexcept { Release(pv); }
