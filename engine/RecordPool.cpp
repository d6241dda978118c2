#include "RecordPool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace vemora {
namespace {

// The 8 bytes before a block: its pool's address with the block's size
// class in the low bits, or 0 for a block of the general heap.
using Header = std::uintptr_t;
constexpr Header kClassBits = alignof(RecordPool) - 1;

Header headerOf(const void* block) {
  Header header;
  std::memcpy(&header, static_cast<const char*>(block) - sizeof header, sizeof header);
  return header;
}

void setHeader(void* block, Header header) {
  std::memcpy(static_cast<char*>(block) - sizeof header, &header, sizeof header);
}

}  // namespace

RecordPool::~RecordPool() {
  for (const Slab& slab : slabs) munmap(slab.start, slab.size);
}

void* RecordPool::allocate(RecordPool* pool, std::size_t size) {
  static_assert(sizeof(Header) == kHeader && sizeClass(kLargest) <= kClassBits);
  if (kPools && pool && size <= kLargest) {
    const std::size_t sizeClass = RecordPool::sizeClass(size);
    void* block = static_cast<char*>(pool->take(sizeClass)) + kHeader;
    setHeader(block, reinterpret_cast<Header>(pool) | sizeClass);
    return block;
  }
  // A whole kAlign before the block keeps it aligned as the heap's are.
  void* block = static_cast<char*>(::operator new(size + kAlign)) + kAlign;
  setHeader(block, 0);
  return block;
}

void RecordPool::release(void* block) noexcept {
  if (!block) return;
  const Header header = headerOf(block);
  if (auto* pool = reinterpret_cast<RecordPool*>(header & ~kClassBits)) {
    pool->give(static_cast<char*>(block) - kHeader, header & kClassBits);
  } else {
    ::operator delete(static_cast<char*>(block) - kAlign);
  }
}

void* RecordPool::take(std::size_t sizeClass) {
  if (FreeBlock* block = freeLists[sizeClass]) {
    freeLists[sizeClass] = block->next;
    return block;
  }
  const std::size_t bytes = sizeClass * kAlign;
  if (std::size_t(end - next) < bytes) newSlab(bytes + kHeader);
  void* block = next;
  next += bytes;
  return block;
}

void RecordPool::give(void* block, std::size_t sizeClass) noexcept {
  auto* free = static_cast<FreeBlock*>(block);
  free->next = freeLists[sizeClass];
  freeLists[sizeClass] = free;
}

// The first slab is small, so that a short score reserves little. Every
// later one is a huge page's worth, aligned to it and offered to the system
// as one: where transparent huge pages are granted, the slab's memory then
// costs one page fault and one entry in the TLB instead of 512, and on a
// virtual machine its first touch does not pay the host a visit per 4 KB
// page (on one such machine, 8 MB of records: 0.7 ms against 12 ms). Where
// no huge page is to be had, the slab is made of small pages as before.
// Either way its pages are filled in as it is mapped, not one fault a page.
void RecordPool::newSlab(std::size_t atLeast) {
  const std::size_t size = std::max(slabs.empty() ? kFirstSlab : kHugeSlab, atLeast);
  slabs.reserve(slabs.size() + 1);  // so that recording the slab cannot fail once mapped
  char* start = size == kHugeSlab ? mapHugeSlab() : mapSlab(size);
  slabs.push_back({start, size});
  reservedBytes += size;
  next = start + kHeader;  // cells start 8 bytes past an aligned address
  end = start + size;
}

char* RecordPool::mapSlab(std::size_t size) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;
#endif
  void* start = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (start == MAP_FAILED) throw std::bad_alloc();
  return static_cast<char*>(start);
}

// Maps twice the size and gives back what lies outside the aligned middle.
// The huge-page advice must come before the pages are filled in, so they
// are filled in by asking for it afterwards (MADV_POPULATE_WRITE; a system
// without it fills them in at first touch). Both are advice: a refusal
// leaves ordinary memory.
char* RecordPool::mapHugeSlab() {
  const std::size_t span = 2 * kHugeSlab;
  void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  char* raw = static_cast<char*>(mapped);
  char* start = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(raw) + kHugeSlab - 1) & ~(kHugeSlab - 1));
  if (start > raw) munmap(raw, std::size_t(start - raw));
  if (raw + span > start + kHugeSlab) munmap(start + kHugeSlab, std::size_t(raw + span - (start + kHugeSlab)));
#ifdef MADV_HUGEPAGE
  madvise(start, kHugeSlab, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
  madvise(start, kHugeSlab, MADV_POPULATE_WRITE);
#endif
  return start;
}

}  // namespace vemora
