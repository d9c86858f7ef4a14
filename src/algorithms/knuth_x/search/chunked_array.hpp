// An array that grows by fixed-size chunks.
//
// A doubling vector holds up to twice its size, and three times while it copies itself into a
// larger buffer; a best-first search whose frontier fills most of memory cannot afford either.
// Here growing allocates one more chunk and moves nothing, shrinking frees chunks past the
// end (one spare is kept so that a size going up and down at a chunk boundary does not
// allocate each time), and the bytes held stay within one chunk of the elements held.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "../failure.hpp"

namespace xcover {

template <class T, unsigned kChunkBits = 12>
class ChunkedArray {
public:
    static constexpr std::uint64_t kChunk = std::uint64_t{1} << kChunkBits;
    static constexpr std::uint64_t kMask = kChunk - 1;

    std::uint64_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    // Unchecked: for indices the owner knows to be below size().
    T& operator[](std::uint64_t i) noexcept { return chunks_[i >> kChunkBits][i & kMask]; }
    const T& operator[](std::uint64_t i) const noexcept { return chunks_[i >> kChunkBits][i & kMask]; }

    const T& at(std::uint64_t i) const { return (*this)[checked(i, size_)]; }

    void push_back(const T& value) {
        if ((size_ >> kChunkBits) == chunks_.size()) chunks_.push_back(std::make_unique_for_overwrite<T[]>(kChunk));
        (*this)[size_] = value;
        ++size_;
    }

    void pop_back() noexcept {
        --size_;
        // Chunks in use: ceil(size / kChunk); one more is kept as a spare.
        const std::uint64_t in_use = (size_ + kMask) >> kChunkBits;
        if (chunks_.size() > in_use + 1) chunks_.pop_back();
    }

    // Bytes held: the chunks and their table.
    std::uint64_t capacity_bytes() const noexcept {
        return chunks_.size() * kChunk * sizeof(T) + chunks_.capacity() * sizeof(chunks_[0]);
    }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::uint64_t size_ = 0;
};

}  // namespace xcover
