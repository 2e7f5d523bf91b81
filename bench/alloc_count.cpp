#include "alloc_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {

namespace {

// In front of every block: its size and what it counts against. 16 bytes,
// so the block keeps malloc's alignment.
struct alignas(16) Header {
    size_t size;
    size_t tag;  // 0 not counted, 1 program, 2 other
};
static_assert(sizeof(Header) == 16);

std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_bytes[3];
std::atomic<int64_t> g_blocks[3];

void* allocate(size_t n, size_t tag) noexcept {
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + (n ? n : 1)));
    if (h == nullptr) return nullptr;
    h->size = n;
    h->tag = g_counting.load(std::memory_order_relaxed) ? tag : 0;
    if (h->tag != 0) {
        g_bytes[h->tag].fetch_add(static_cast<int64_t>(n), std::memory_order_relaxed);
        g_blocks[h->tag].fetch_add(1, std::memory_order_relaxed);
    }
    return h + 1;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    Header* h = static_cast<Header*>(p) - 1;
    if (h->tag != 0) {
        g_bytes[h->tag].fetch_sub(static_cast<int64_t>(h->size), std::memory_order_relaxed);
        g_blocks[h->tag].fetch_sub(1, std::memory_order_relaxed);
    }
    std::free(h);
}

void* allocate_or_throw(size_t n) {
    void* p = allocate(n, 2);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void set_heap_counting(bool on) { g_counting.store(on); }

HeapFigures heap_figures() {
    HeapFigures f;
    f.program_bytes = g_bytes[1].load();
    f.program_blocks = g_blocks[1].load();
    f.other_bytes = g_bytes[2].load();
    f.other_blocks = g_blocks[2].load();
    return f;
}

}  // namespace bench

void* operator new(size_t n) { return bench::allocate_or_throw(n); }
void* operator new[](size_t n) { return bench::allocate_or_throw(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return bench::allocate(n, 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return bench::allocate(n, 1); }
void operator delete(void* p) noexcept { bench::release(p); }
void operator delete[](void* p) noexcept { bench::release(p); }
void operator delete(void* p, size_t) noexcept { bench::release(p); }
void operator delete[](void* p, size_t) noexcept { bench::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { bench::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { bench::release(p); }
