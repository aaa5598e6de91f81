// Memory for a buffer that grows a large block at a time and is filled from
// the front (the log's lines). Where the system offers it, a block is backed
// by huge pages: filling it then costs one page fault instead of one per
// 4 KiB page, and on a virtual machine a fault can cost 10 us.
#pragma once

#include <cstddef>
#include <memory>

namespace mvx {

// What one huge page holds; blocks are best made a multiple of it.
inline constexpr std::size_t kLargeBlockGrain = std::size_t{2} << 20;

void ReleaseLargeBlock(char* block, std::size_t size);

struct LargeBlockRelease {
  std::size_t Size = 0;
  void operator()(char* block) const { ReleaseLargeBlock(block, Size); }
};

using LargeBlock = std::unique_ptr<char[], LargeBlockRelease>;

// Uninitialised; raises std::bad_alloc when the memory cannot be had.
LargeBlock AllocateLargeBlock(std::size_t size);

}  // namespace mvx
