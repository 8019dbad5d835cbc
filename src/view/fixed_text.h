// A short text held in place: what the 40 ms paths produce must not touch the heap.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace zrv {

template <std::size_t Capacity>
class FixedText {
 public:
  constexpr FixedText() = default;
  constexpr FixedText(std::string_view text) { Append(text); }  // NOLINT: implicit on purpose

  // Appends as much as fits; the text is cut at the capacity, never overrun.
  constexpr FixedText& Append(std::string_view text) {
    const std::size_t n = std::min(text.size(), Capacity - size_);
    std::copy_n(text.data(), n, chars_.data() + size_);
    size_ += n;
    return *this;
  }
  constexpr FixedText& Append(char c) { return Append(std::string_view(&c, 1)); }

  constexpr std::string_view View() const { return {chars_.data(), size_}; }
  constexpr std::size_t Size() const { return size_; }
  constexpr bool Empty() const { return size_ == 0; }
  constexpr void Clear() { size_ = 0; }

  friend constexpr bool operator==(const FixedText& a, const FixedText& b) { return a.View() == b.View(); }
  friend constexpr bool operator==(const FixedText& a, std::string_view b) { return a.View() == b; }

 private:
  std::array<char, Capacity> chars_{};
  std::size_t size_ = 0;
};

}  // namespace zrv
