#include "lumo/pool_region.h"

#include <new>

#include "lumo/sanitizer.h"

namespace lumo::pool {
namespace {

ChunkHeader* ChunkAt(void* regionBase, int index) {
  return reinterpret_cast<ChunkHeader*>(static_cast<char*>(regionBase) + static_cast<std::size_t>(index) * kChunkSize);
}

// Gives a blank chunk its block size and threads the local list through
// blocks 1 .. N - 1 in ascending address order; block 0 holds the header.
void FormatChunk(ChunkHeader* chunk, std::int64_t blockSize) {
  chunk->blockSize = blockSize;
  chunk->remoteList.store(nullptr, std::memory_order_relaxed);
  char* const base = reinterpret_cast<char*>(chunk);
  const std::size_t size = static_cast<std::size_t>(blockSize);
  FreeBlock* head = nullptr;
  for (std::size_t i = kChunkSize / size - 1; i >= 1; --i) {
    FreeBlock* block = reinterpret_cast<FreeBlock*>(base + i * size);
    SetNext(block, head);
    head = block;
  }
  chunk->localList = head;
}

bool HasFreeBlock(const ChunkHeader* chunk) {
  return chunk->localList != nullptr || chunk->remoteList.load(std::memory_order_acquire) != nullptr;
}

ClassRecord& FindOrCreateClass(RegionHeader& region, std::int64_t blockSize) {
  std::lock_guard<std::mutex> lock(region.classMapMutex);
  return region.classMap.try_emplace(blockSize, blockSize).first->second;
}

ClassRecord* FindClass(RegionHeader& region, std::int64_t blockSize) {
  std::lock_guard<std::mutex> lock(region.classMapMutex);
  const auto found = region.classMap.find(blockSize);
  return found == region.classMap.end() ? nullptr : &found->second;
}

}  // namespace

RegionHeader* InitRegion(void* base) {
  for (int i = 0; i < kChunksPerRegion; ++i) {
    ChunkHeader* chunk = ChunkAt(base, i);
    ::new (static_cast<void*>(chunk)) ChunkHeader{{0}, nullptr, {nullptr}, 0, nullptr};
    // Everything but the headers is free memory until a block is handed out.
    const std::size_t kept = i == 0 ? kRegionHeaderOffset + sizeof(RegionHeader) : sizeof(ChunkHeader);
    sanitizer::Poison(reinterpret_cast<char*>(chunk) + kept, kChunkSize - kept);
  }
  RegionHeader* region = ::new (static_cast<char*>(base) + kRegionHeaderOffset) RegionHeader();
  // The class records hang off this header alone, in memory no leak checker
  // scans; they live as long as the region.
  sanitizer::RegisterRoot(region, sizeof(RegionHeader));
  for (int i = 0; i < kChunksPerRegion; ++i) region->blank.push_back(ChunkAt(base, i));
  return region;
}

void DestroyRegion(RegionHeader* region) noexcept {
  region->~RegionHeader();
  sanitizer::UnregisterRoot(region, sizeof(RegionHeader));
  // The caller unmaps the region; memory mapped there later starts clean.
  sanitizer::Unpoison(reinterpret_cast<void*>(RegionBaseOf(region)), kRegionSize);
}

ChunkHeader* TakeChunk(RegionHeader& region, std::int64_t blockSize) {
  // The record exists before any chunk of this size leaves the region, so
  // that retiring never has to allocate.
  ClassRecord& record = FindOrCreateClass(region, blockSize);
  {
    std::lock_guard<std::mutex> lock(region.blankMutex);
    if (!region.blank.empty()) {
      ChunkHeader* chunk = region.blank.pop_front();
      FormatChunk(chunk, blockSize);
      return chunk;
    }
  }
  {
    std::lock_guard<std::mutex> lock(record.partialMutex);
    if (!record.partial.empty()) return record.partial.pop_front();
  }
  // Walk the full queue once: chunks still without a free block go back in
  // their order; of those that gained some, the last is taken and the
  // others become partial.
  std::lock_guard<std::mutex> lock(record.fullMutex);
  ChunkHeader* taken = nullptr;
  for (std::size_t n = record.full.size(); n > 0; --n) {
    ChunkHeader* chunk = record.full.pop_front();
    if (!HasFreeBlock(chunk)) {
      record.full.push_back(chunk);
      continue;
    }
    if (taken != nullptr) {
      std::lock_guard<std::mutex> partialLock(record.partialMutex);
      record.partial.push_back(taken);
    }
    taken = chunk;
  }
  return taken;
}

void RetireChunk(ChunkHeader* chunk) noexcept {
  chunk->owner.store(0, std::memory_order_relaxed);
  // Present: TakeChunk created it before the chunk got this size.
  ClassRecord* record = FindClass(*RegionOf(chunk), chunk->blockSize);
  if (HasFreeBlock(chunk)) {
    std::lock_guard<std::mutex> lock(record->partialMutex);
    record->partial.push_back(chunk);
  } else {
    std::lock_guard<std::mutex> lock(record->fullMutex);
    record->full.push_back(chunk);
  }
}

QueueCounts CountQueues(RegionHeader& region, std::int64_t blockSize) {
  QueueCounts counts;
  {
    std::lock_guard<std::mutex> lock(region.blankMutex);
    counts.blank = region.blank.size();
  }
  if (ClassRecord* record = FindClass(region, blockSize)) {
    {
      std::lock_guard<std::mutex> lock(record->partialMutex);
      counts.partial = record->partial.size();
    }
    std::lock_guard<std::mutex> lock(record->fullMutex);
    counts.full = record->full.size();
  }
  return counts;
}

}  // namespace lumo::pool
