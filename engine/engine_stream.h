// CEngineStream: one client's bulk stream exchange with the engine. The client announces a
// stream (id, total length), writes its bytes, asks for the length of the answer, reads the
// answer and ends the exchange. The answer to the stream test (id 20629) is the bytes received;
// any other id is taken and answered with no bytes.
//
// Every call returns 0 on success. A stream longer than kMaxStreamBytes, a write past the
// announced length, an answer asked for before every byte came, a read past the answer or a
// call out of this order fails with kStreamError and leaves the exchange to be ended.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "link/device_message_ids.h"

constexpr int kStreamTestId = kMsgStreamTest;

class CEngineStream {
 public:
  static constexpr long kMaxStreamBytes = 64L << 20;
  static constexpr int kStreamError = -1;

  static std::vector<uint8_t> Answer(int id, std::span<const uint8_t> received);

  int Start(int id, long total);
  int Write(std::span<const uint8_t> bytes);
  int ResponseStart(int* length);
  int Read(std::span<uint8_t> buffer);
  int End();

 private:
  enum class State { kIdle, kReceiving, kAnswering };

  std::mutex mu_;
  State state_ = State::kIdle;
  int id_ = 0;
  size_t expected_ = 0;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> answer_;
  size_t read_ = 0;
};
