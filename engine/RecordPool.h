// Memory for the records every note keeps while it waits and sounds: the
// engine's note record and the instrument object.
//
// A score is read whole before it plays, so a score of many notes makes all
// of its records first, then drops them one by one as the notes end. From
// the general heap that costs an allocation, a release and a page fault
// every few notes; from a pool it is a pointer bump when made, a push on a
// free list when dropped, and pages the system fills in whole slabs at a
// time. A pool belongs to one engine and is used from the engine's thread
// only, so it takes no lock.
//
// Each block carries its pool and its size in the 8 bytes before it, so
// that a block is released without knowing whose it is, and a block made
// with no pool at hand comes from the general heap and goes back there.
// Under AddressSanitizer every block comes from the general heap, so the
// sanitizer sees each one.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace vemora {

// Aligned so that the low bits of its address are free to hold a size class.
class alignas(128) RecordPool {
 public:
  RecordPool() = default;
  ~RecordPool();
  RecordPool(const RecordPool&) = delete;
  RecordPool& operator=(const RecordPool&) = delete;

  // size bytes aligned for any object, from pool, or from the general heap
  // when pool is null or the size is larger than the pool serves. Throws
  // std::bad_alloc when no memory is left.
  static void* allocate(RecordPool* pool, std::size_t size);
  // Gives back a block of allocate(); null is ignored.
  static void release(void* block) noexcept;

  // False under AddressSanitizer: then every block is the general heap's.
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool kPools = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  static constexpr bool kPools = false;
#else
  static constexpr bool kPools = true;
#endif
#else
  static constexpr bool kPools = true;
#endif

  // Bytes taken from the system so far.
  std::size_t reserved() const { return reservedBytes; }

 private:
  static constexpr std::size_t kAlign = 16;
  static constexpr std::size_t kHeader = 8;
  static constexpr std::size_t kLargest = 1024;  // a larger block comes from the heap
  static constexpr std::size_t kFirstSlab = 64 * 1024;
  static constexpr std::size_t kHugeSlab = 2 * 1024 * 1024;  // a huge page of x86-64 and of most arm64 systems

  struct FreeBlock {
    FreeBlock* next;
  };
  // A block with its header takes a cell of sizeClass * kAlign bytes. Cells
  // start 8 bytes past a multiple of kAlign, so the blocks in them are
  // aligned; cells of one size go back on one list.
  static constexpr std::size_t sizeClass(std::size_t size) { return (size + kHeader + kAlign - 1) / kAlign; }

  void* take(std::size_t sizeClass);
  void give(void* block, std::size_t sizeClass) noexcept;
  void newSlab(std::size_t atLeast);
  static char* mapSlab(std::size_t size);
  static char* mapHugeSlab();

  std::array<FreeBlock*, (kLargest + kHeader + kAlign - 1) / kAlign + 1> freeLists{};
  char* next = nullptr;  // unused memory of the newest slab
  char* end = nullptr;
  struct Slab {
    void* start;
    std::size_t size;
  };
  std::vector<Slab> slabs;
  std::size_t reservedBytes = 0;
};

}  // namespace vemora
