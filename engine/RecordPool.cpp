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

// Slabs grow from small to large, so that a short score reserves little and
// a long one asks the system seldom. The system fills a slab's pages in as
// it maps it, at once rather than one fault per page.
void RecordPool::newSlab(std::size_t atLeast) {
  const std::size_t size = std::max(nextSlabSize, atLeast);
  slabs.reserve(slabs.size() + 1);  // so that recording the slab cannot fail once mapped
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;
#endif
  void* start = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (start == MAP_FAILED) throw std::bad_alloc();
  slabs.push_back({start, size});
  reservedBytes += size;
  next = static_cast<char*>(start) + kHeader;  // cells start 8 bytes past an aligned address
  end = static_cast<char*>(start) + size;
  nextSlabSize = std::min(nextSlabSize * 2, kLargestSlab);
}

}  // namespace vemora
