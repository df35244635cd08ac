#pragma once
// The store's single error type; its display text is what the caller sees.

#include <cstdint>
#include <string>

namespace ostrel::store {

class StoreError {
 public:
  enum class Kind : std::uint8_t { Parse, UnknownIndicator, MissingFeed, BadSpec, Data, Output };

  static StoreError parse(std::string t) { return {Kind::Parse, std::move(t)}; }
  static StoreError unknown_indicator(std::string t) { return {Kind::UnknownIndicator, std::move(t)}; }
  static StoreError missing_feed(std::string name, std::string feed) {
    return {Kind::MissingFeed, std::move(name), std::move(feed)};
  }
  static StoreError bad_spec(std::string t) { return {Kind::BadSpec, std::move(t)}; }
  static StoreError data(std::string t) { return {Kind::Data, std::move(t)}; }
  static StoreError output(std::string t) { return {Kind::Output, std::move(t)}; }

  Kind kind() const { return kind_; }
  const std::string& payload() const { return first_; }
  std::string display() const {
    switch (kind_) {
      case Kind::Parse: return "parse: " + first_;
      case Kind::UnknownIndicator: return "unknown indicator: " + first_;
      case Kind::MissingFeed:
        return first_ + " needs the " + second_ + " feed, which this build does not supply";
      case Kind::BadSpec: return "bad spec: " + first_;
      case Kind::Data: return "data: " + first_;
      case Kind::Output: return "output: " + first_;
    }
    return first_;
  }

 private:
  StoreError(Kind k, std::string a, std::string b = {})
      : kind_(k), first_(std::move(a)), second_(std::move(b)) {}
  Kind kind_;
  std::string first_;
  std::string second_;
};

}  // namespace ostrel::store
