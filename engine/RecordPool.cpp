#include "RecordPool.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace vemora {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

// What sits before every block: whose it is (null: the general heap's),
// and its size class there.
struct alignas(16) Header {
  RecordPool* pool;
  std::size_t sizeClass;
};
static_assert(sizeof(Header) == 16);

}  // namespace

RecordPool::~RecordPool() {
  for (const Slab& slab : slabs) munmap(slab.start, slab.size);
}

void* RecordPool::allocate(RecordPool* pool, std::size_t size) {
  Header* header = nullptr;
  if (kPooled && pool && size <= kLargest) {
    header = static_cast<Header*>(pool->take(sizeClass(size)));
    header->sizeClass = sizeClass(size);
  } else {
    header = static_cast<Header*>(::operator new(sizeof(Header) + size));
    pool = nullptr;
  }
  header->pool = pool;
  return header + 1;
}

void RecordPool::release(void* block) noexcept {
  if (!block) return;
  Header* header = static_cast<Header*>(block) - 1;
  if (header->pool) {
    header->pool->give(header, header->sizeClass);
  } else {
    ::operator delete(header);
  }
}

void* RecordPool::take(std::size_t sizeClass) {
  if (FreeBlock* block = freeLists[sizeClass]) {
    freeLists[sizeClass] = block->next;
    return block;
  }
  const std::size_t bytes = sizeClass * kAlign;
  if (std::size_t(end - next) < bytes) newSlab(bytes);
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
  next = static_cast<char*>(start);
  end = next + size;
  nextSlabSize = std::min(nextSlabSize * 2, kLargestSlab);
}

}  // namespace vemora
