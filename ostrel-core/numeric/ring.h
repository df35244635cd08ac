#pragma once
// A fixed-capacity ring of the most recent values whose storage grows with the data, not with
// the declared capacity: a window of 2^24 over a 100-step series holds 100 slots. Unfilled slots
// are never read, so results are those of a ring allocated in full up front.

#include <cstddef>
#include <vector>

namespace ostrel::numeric {

template <class T>
class Ring {
 public:
  explicit Ring(std::size_t capacity = 1) : cap_(capacity) {}

  std::size_t capacity() const { return cap_; }
  std::size_t size() const { return data_.size() < cap_ ? data_.size() : cap_; }
  bool full() const { return data_.size() == cap_; }
  bool empty() const { return data_.empty(); }

  // Appends x; once full, overwrites (and returns through `evicted`) the oldest value.
  void push(const T& x, T* evicted = nullptr) {
    if (data_.size() < cap_) {
      data_.push_back(x);
      return;
    }
    if (evicted) *evicted = data_[head_];
    data_[head_] = x;
    head_ = head_ + 1 == cap_ ? 0 : head_ + 1;
  }

  // i = 0 is the oldest stored value, size() - 1 the newest.
  const T& operator[](std::size_t i) const {
    std::size_t j = head_ + i;
    if (j >= data_.size()) j -= data_.size();
    return data_[j];
  }
  T& operator[](std::size_t i) {
    std::size_t j = head_ + i;
    if (j >= data_.size()) j -= data_.size();
    return data_[j];
  }
  const T& oldest() const { return (*this)[0]; }
  const T& newest() const { return (*this)[size() - 1]; }

  // Calls f(value) from the oldest to the newest without index arithmetic per element.
  template <class F>
  void for_each(F&& f) const {
    for (std::size_t i = head_; i < data_.size(); ++i) f(data_[i]);
    for (std::size_t i = 0; i < head_; ++i) f(data_[i]);
  }

 private:
  std::vector<T> data_;
  std::size_t cap_;
  std::size_t head_ = 0;  // oldest slot once full
};

}  // namespace ostrel::numeric
