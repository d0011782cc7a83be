#include "tests/faults/heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace fault_testing {
namespace {

// Each block carries its size in front of it; the header keeps the block's alignment.
constexpr size_t kHeader = alignof(std::max_align_t);

std::atomic<size_t> live_bytes{0};
std::atomic<size_t> peak_bytes{0};

void* Allocate(size_t size) noexcept {
  void* raw = std::malloc(size + kHeader);
  if (raw == nullptr) return nullptr;
  *static_cast<size_t*>(raw) = size;
  const size_t now = live_bytes.fetch_add(size) + size;
  size_t peak = peak_bytes.load();
  while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(raw) + kHeader;
}

void Release(void* block) noexcept {
  if (block == nullptr) return;
  void* raw = static_cast<char*>(block) - kHeader;
  live_bytes.fetch_sub(*static_cast<size_t*>(raw));
  std::free(raw);
}

void* AllocateOrThrow(size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

size_t LiveHeapBytes() { return live_bytes.load(); }
size_t PeakHeapBytes() { return peak_bytes.load(); }
void ResetPeakHeapBytes() { peak_bytes.store(live_bytes.load()); }

}  // namespace fault_testing

void* operator new(size_t size) { return fault_testing::AllocateOrThrow(size); }
void* operator new[](size_t size) { return fault_testing::AllocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return fault_testing::Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return fault_testing::Allocate(size);
}
void operator delete(void* block) noexcept { fault_testing::Release(block); }
void operator delete[](void* block) noexcept { fault_testing::Release(block); }
void operator delete(void* block, size_t) noexcept { fault_testing::Release(block); }
void operator delete[](void* block, size_t) noexcept { fault_testing::Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  fault_testing::Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  fault_testing::Release(block);
}
