// Decoding of market data documents: both record spellings, feeds and the per-symbol variants.

#include <gtest/gtest.h>

#include <string>

#include "feature-store-core/feeds.h"

namespace ostrel::store {
namespace {

template <class F>
std::string decode_error(const char* text, F fn) {
  auto doc = JsonDocument::parse(text, Duplicates::LastWins);
  EXPECT_TRUE(doc) << text;
  if (!doc) return "?";
  auto r = fn((*doc)->root());
  return r ? "" : r.error().message;
}

TEST(FeedsDecode, CandleSpellingsAgree) {
  const char* texts[] = {
      R"([1700000000, 1, 2, 0.5, 1.5, 10])",
      R"({"ts":1700000000,"open":1,"high":2,"low":0.5,"close":1.5,"volume":10})",
      R"({"volume":10,"close":1.5,"low":0.5,"high":2,"open":1,"ts":1700000000,"x":null})",
      R"([1700000000, 1.0, 2, 0.5, 1.5, 1e1])",
  };
  for (const char* t : texts) {
    auto doc = JsonDocument::parse(t, Duplicates::LastWins);
    ASSERT_TRUE(doc);
    auto c = decode_candle((*doc)->root());
    ASSERT_TRUE(c) << t << ": " << c.error().message;
    EXPECT_EQ(c->ts, 1700000000);
    EXPECT_EQ(c->open, 1.0);
    EXPECT_EQ(c->high, 2.0);
    EXPECT_EQ(c->low, 0.5);
    EXPECT_EQ(c->close, 1.5);
    EXPECT_EQ(c->volume, 10.0);
  }
}

TEST(FeedsDecode, Errors) {
  struct Case {
    const char* text;
    const char* want_prefix;
  } candles[] = {
      {R"({"ts":1,"open":1,"high":1,"low":1,"volume":1})", "missing field `close`"},
      {R"({"ts":1.5,"open":1,"high":1,"low":1,"close":1,"volume":1})", "invalid type"},
      {R"([9223372036854775808,1,1,1,1,1])", "invalid value"},
      {R"([1,1,1,1,"1",1])", "invalid type"},
      {R"([1,1,1,1,1])", "invalid length 5"},
      {R"(5)", "invalid type"},
  };
  for (const auto& c : candles)
    EXPECT_EQ(decode_error(c.text, decode_candle).rfind(c.want_prefix, 0), 0u)
        << c.text << " -> " << decode_error(c.text, decode_candle);

  const std::string untagged = "data did not match any variant of untagged enum SymbolInputDoc";
  EXPECT_EQ(decode_error(R"({"A":[[1,1,1,1,1]]})", decode_batch), untagged);
  EXPECT_EQ(decode_error(R"({"A":{"books":[]}})", decode_batch), untagged);
  EXPECT_EQ(decode_error(R"({"A":{"candles":[],"trades":[[{"price":1,"size":1,"side":"hold","timestamp":0}]]}})",
                         decode_batch),
            untagged);
  EXPECT_EQ(decode_error(R"([])", decode_batch).rfind("invalid type", 0), 0u);
  EXPECT_EQ(decode_error(R"({"trades":[{"price":1,"size":1,"side":"hold","timestamp":0}]})",
                         decode_step_feeds)
                .rfind("unknown variant `hold`", 0),
            0u);
}

TEST(FeedsDecode, StepFeedsAndSeries) {
  auto doc = JsonDocument::parse(
      R"({"reference":2.0,"deriv":null,"trades":[],
          "orderbook":{"bids":[[1,2]],"asks":[{"price":3,"size":4}]}})",
      Duplicates::LastWins);
  ASSERT_TRUE(doc);
  auto f = decode_step_feeds((*doc)->root());
  ASSERT_TRUE(f) << f.error().message;
  EXPECT_EQ(f->reference, 2.0);
  EXPECT_FALSE(f->deriv);
  ASSERT_TRUE(f->trades);  // an empty list is still a present feed
  EXPECT_TRUE(f->trades->empty());
  ASSERT_TRUE(f->orderbook);
  EXPECT_EQ(f->orderbook->asks[0].size, 4.0);
  EXPECT_FALSE(f->cross_section);

  auto batch = JsonDocument::parse(
      R"({"b":[[1,1,1,1,1,1]],
          "B":{"candles":[[2,1,1,1,1,1]],"reference":null,
               "sections":[{"members":[[0.5,10,true,false]],"timestamp":3}],
               "trades":[[[100,1,"sell",7]]]},
          "b":[[5,1,1,1,1,1],[6,1,1,1,1,1]]})",
      Duplicates::LastWins);
  ASSERT_TRUE(batch);
  auto u = decode_batch((*batch)->root());
  ASSERT_TRUE(u) << u.error().message;
  ASSERT_EQ(u->size(), 2u);
  auto it = u->begin();
  EXPECT_EQ(it->first, "B");
  EXPECT_FALSE(it->second.reference);
  ASSERT_TRUE(it->second.sections);
  EXPECT_TRUE((*it->second.sections)[0].members[0].new_high);
  ASSERT_TRUE(it->second.trades);
  EXPECT_EQ((*it->second.trades)[0][0].side, Side::Sell);
  ++it;
  EXPECT_EQ(it->first, "b");
  ASSERT_EQ(it->second.candles.size(), 2u);  // the last duplicate wins
  EXPECT_EQ(it->second.candles[0].ts, 5);
}

}  // namespace
}  // namespace ostrel::store
