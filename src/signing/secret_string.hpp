#pragma once
// SecretString: text that may hold a secret key. Its allocator wipes every buffer before giving
// it back, including the smaller ones a growing string leaves behind, so no copy of the secret
// outlives the string on the heap.

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

namespace srb {

template <typename T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    explicit_bzero(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }

  friend bool operator==(const WipingAllocator&, const WipingAllocator&) { return true; }
};

using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

}  // namespace srb
