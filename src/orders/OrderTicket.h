// One table of the order ticket (texts or numbers), indexed by field number. The fields an
// order reads (0 to 48) sit in place, so filling a ticket allocates little; any other field a
// host writes is kept aside until the next clearing, up to a bound, since none is ever read.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>

namespace kdx {

template <class T>
class COrderInfoTable {
 public:
  static constexpr int32_t kReadFields = 49;
  static constexpr std::size_t kMaxFields = 1024;  // written fields kept, the read ones always

  // Negative fields are ignored; so are unread ones past kMaxFields.
  void Set(int32_t field, T value) {
    if (field < 0) return;
    if (field < kReadFields) {
      dense_[field] = std::move(value);
      written_.set(field);
    } else if (auto it = sparse_.find(field); it != sparse_.end()) {
      it->second = std::move(value);
    } else if (size() < kMaxFields) {
      sparse_.emplace(field, std::move(value));
    }
  }
  // Empty or 0 when unset.
  const T& Get(int32_t field) const {
    static const T kUnset{};
    if (field >= 0 && field < kReadFields) return dense_[field];
    const auto it = sparse_.find(field);
    return it == sparse_.end() ? kUnset : it->second;
  }
  void Clear() {
    for (int32_t field = 0; field < kReadFields; ++field) {
      if (written_.test(field)) dense_[field] = T{};
    }
    written_.reset();
    sparse_.clear();
  }
  // Fields written since the last clearing.
  std::size_t size() const { return written_.count() + sparse_.size(); }
  bool empty() const { return size() == 0; }

 private:
  std::array<T, kReadFields> dense_{};
  std::bitset<kReadFields> written_;
  std::map<int32_t, T> sparse_;
};

}  // namespace kdx
