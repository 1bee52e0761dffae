// The engine's stream exchange: the order of its steps and the bounds of every length.
#include "engine/engine_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <span>
#include <vector>

namespace {

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

TEST(EngineStreamTest, OtherStreamsAreTakenWithAnEmptyAnswer) {
  CEngineStream s;
  ASSERT_EQ(s.Start(4711, 3), 0);
  ASSERT_EQ(s.Write(Counting(3)), 0);
  int length = -1;
  ASSERT_EQ(s.ResponseStart(&length), 0);
  EXPECT_EQ(length, 0);
  uint8_t one;
  EXPECT_EQ(s.Read({&one, 1}), CEngineStream::kStreamError);
}

TEST(EngineStreamTest, StepsOutOfOrderOrPastALengthFail) {
  constexpr int E = CEngineStream::kStreamError;
  const auto bytes = Counting(8);
  uint8_t buffer[16];
  int length;
  struct Case {
    const char* what;
    std::function<int(CEngineStream&)> step;
  };
  const Case cases[] = {
      {"write before start", [&](CEngineStream& s) { return s.Write(bytes); }},
      {"answer before start", [&](CEngineStream& s) { return s.ResponseStart(&length); }},
      {"read before start",
       [&](CEngineStream& s) {
         return s.Read({buffer, 1});
       }},
      {"negative length", [&](CEngineStream& s) { return s.Start(kStreamTestId, -1); }},
      {"too long",
       [&](CEngineStream& s) {
         return s.Start(kStreamTestId, CEngineStream::kMaxStreamBytes + 1);
       }},
      {"write past the length",
       [&](CEngineStream& s) {
         s.Start(kStreamTestId, 4);
         return s.Write(bytes);
       }},
      {"answer before every byte",
       [&](CEngineStream& s) {
         s.Start(kStreamTestId, 8);
         s.Write(std::span(bytes).first(4));
         return s.ResponseStart(&length);
       }},
      {"start while one runs",
       [&](CEngineStream& s) {
         s.Start(kStreamTestId, 8);
         return s.Start(kStreamTestId, 8);
       }},
      {"read past the answer",
       [&](CEngineStream& s) {
         s.Start(kStreamTestId, 8);
         s.Write(bytes);
         s.ResponseStart(&length);
         return s.Read({buffer, 9});
       }},
      {"write while answering",
       [&](CEngineStream& s) {
         s.Start(kStreamTestId, 8);
         s.Write(bytes);
         s.ResponseStart(&length);
         return s.Write(bytes);
       }},
      {"null length",
       [&](CEngineStream& s) {
         s.Start(kStreamTestId, 0);
         return s.ResponseStart(nullptr);
       }},
  };
  for (const auto& c : cases) {
    CEngineStream s;
    EXPECT_EQ(c.step(s), E) << c.what;
    // Ending always recovers the exchange.
    EXPECT_EQ(s.End(), 0);
    EXPECT_EQ(s.Start(kStreamTestId, 0), 0) << c.what;
  }
}

}  // namespace
