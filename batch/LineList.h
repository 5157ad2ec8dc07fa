// Lines of text kept one after another in large blocks. A damaged film gives
// a file tens of thousands of Messages Center lines, kept for its row, for
// the whole list and for the view: so kept they cost a copy of their bytes
// each, not an allocation each nor the moves of a buffer that grows.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace VEKRiff {

class LineList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator() = default;
    const_iterator(const LineList* list, std::size_t at) : list_(list), at_(at) {}
    std::string_view operator*() const { return (*list_)[at_]; }
    std::string_view operator[](difference_type n) const { return (*list_)[at_ + n]; }
    const_iterator& operator++() { return ++at_, *this; }
    const_iterator operator++(int) { return {list_, at_++}; }
    const_iterator& operator--() { return --at_, *this; }
    const_iterator operator--(int) { return {list_, at_--}; }
    const_iterator& operator+=(difference_type n) { return at_ += n, *this; }
    const_iterator& operator-=(difference_type n) { return at_ -= n, *this; }
    friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
    friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
    friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.at_ <=> b.at_; }

   private:
    const LineList* list_ = nullptr;
    std::size_t at_ = 0;
  };

  LineList() = default;
  LineList(std::initializer_list<std::string_view> lines) {
    for (std::string_view line : lines) push_back(line);
  }
  LineList(const LineList& other) { *this = other; }
  LineList(LineList&& other) noexcept { *this = std::move(other); }
  LineList& operator=(const LineList& other) {
    if (this == &other) return *this;
    clear();
    for (std::string_view line : other) push_back(line);
    return *this;
  }
  LineList& operator=(LineList&& other) noexcept {
    blocks_ = std::exchange(other.blocks_, {});
    borrowed_ = std::exchange(other.borrowed_, {});
    lines_ = std::exchange(other.lines_, {});
    current_ = std::exchange(other.current_, 0);
    used_ = std::exchange(other.used_, 0);
    lastOwn_ = std::exchange(other.lastOwn_, true);
    return *this;
  }

  void push_back(std::string_view line) {
    while (current_ >= blocks_.size() || blocks_[current_]->size - used_ < line.size()) {
      // Blocks are never moved or grown, so each byte is written once and the
      // lines already kept stay where they are; a cleared list writes into
      // the blocks it had that no other list shares.
      if (current_ < blocks_.size()) ++current_;
      used_ = 0;
      if (current_ < blocks_.size() && blocks_[current_]->size >= line.size()) break;
      if (current_ < blocks_.size()) continue;
      const std::size_t size = std::max(BlockSize, line.size());
      blocks_.push_back(std::make_shared<Block>(Block{std::make_unique_for_overwrite<char[]>(size), size}));
    }
    char* at = blocks_[current_]->bytes.get() + used_;
    std::copy(line.begin(), line.end(), at);
    used_ += line.size();
    lines_.emplace_back(at, line.size());
    lastOwn_ = true;
  }
  // The last line of another list, its bytes shared rather than copied: a
  // line kept in several lists is stored once. Lists that share lines
  // belong to one thread.
  void push_back_last_of(const LineList& from) {
    const std::shared_ptr<Block>& block = from.lastOwn_ ? from.blocks_[from.current_] : from.borrowed_.back();
    if (borrowed_.empty() || borrowed_.back() != block) borrowed_.push_back(block);
    lines_.push_back(from.lines_.back());
    lastOwn_ = false;
  }
  // Empty, keeping for the lines to come the blocks it wrote that no other
  // list still reads.
  void clear() {
    lines_.clear();
    borrowed_.clear();
    std::erase_if(blocks_, [](const std::shared_ptr<Block>& b) { return b.use_count() > 1; });
    current_ = used_ = 0;
    lastOwn_ = true;
  }
  std::size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  std::string_view operator[](std::size_t i) const { return lines_[i]; }
  std::string_view front() const { return lines_.front(); }
  std::string_view back() const { return lines_.back(); }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  friend bool operator==(const LineList& a, const LineList& b) {
    return std::equal(a.lines_.begin(), a.lines_.end(), b.lines_.begin(), b.lines_.end());
  }

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size;
  };
  static constexpr std::size_t BlockSize = 64 * 1024;
  std::vector<std::shared_ptr<Block>> blocks_;    // written by this list
  std::vector<std::shared_ptr<Block>> borrowed_;  // read from others
  std::size_t current_ = 0, used_ = 0;            // the block written to, and how far
  std::vector<std::string_view> lines_;           // into the blocks
  bool lastOwn_ = true;                           // the last line is in blocks_[current_]
};

}  // namespace VEKRiff
