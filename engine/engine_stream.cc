#include "engine/engine_stream.h"

#include <algorithm>

std::vector<uint8_t> CEngineStream::Answer(int id, std::span<const uint8_t> received) {
  if (id == kStreamTestId) return {received.begin(), received.end()};
  return {};
}

int CEngineStream::Start(int id, long total) {
  std::lock_guard lock(mu_);
  if (state_ != State::kIdle || total < 0 || total > kMaxStreamBytes) return kStreamError;
  id_ = id;
  expected_ = static_cast<size_t>(total);
  received_.clear();
  received_.reserve(expected_);
  state_ = State::kReceiving;
  return 0;
}

int CEngineStream::Write(std::span<const uint8_t> bytes) {
  std::lock_guard lock(mu_);
  if (state_ != State::kReceiving || bytes.size() > expected_ - received_.size())
    return kStreamError;
  received_.insert(received_.end(), bytes.begin(), bytes.end());
  return 0;
}

int CEngineStream::ResponseStart(int* length) {
  std::lock_guard lock(mu_);
  if (!length || state_ != State::kReceiving || received_.size() != expected_) return kStreamError;
  answer_ = Answer(id_, received_);
  read_ = 0;
  *length = static_cast<int>(answer_.size());
  state_ = State::kAnswering;
  return 0;
}

int CEngineStream::Read(std::span<uint8_t> buffer) {
  std::lock_guard lock(mu_);
  if (state_ != State::kAnswering || buffer.size() > answer_.size() - read_) return kStreamError;
  std::copy_n(answer_.begin() + static_cast<std::ptrdiff_t>(read_), buffer.size(), buffer.begin());
  read_ += buffer.size();
  return 0;
}

int CEngineStream::End() {
  std::lock_guard lock(mu_);
  state_ = State::kIdle;
  received_ = {};
  answer_ = {};
  read_ = 0;
  return 0;
}
