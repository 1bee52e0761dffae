#include "netmsg/net_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "netmsg/lum_wire.h"
#include "netmsg/net_socket.h"

namespace {

// A stream is held in memory on the receiving side; this bounds what a peer may announce.
constexpr int64_t kMaxStreamBytes = int64_t{1} << 30;
constexpr size_t kHeaderBytes = 5;  // kind + seq

thread_local NetConnection* t_serving = nullptr;

template <typename T>
void Put(std::string* out, T v) {
  out->append(reinterpret_cast<const char*>(&v), sizeof v);
}

template <typename T>
T Take(std::string_view* in) {
  T v;
  std::memcpy(&v, in->data(), sizeof v);
  in->remove_prefix(sizeof v);
  return v;
}

}  // namespace

void NetConnection::StreamBuffer::Reset(int64_t length) {
  started = true;
  total = length;
  received = 0;
  bytes.clear();
  read_pos = 0;
}

NetConnection::NetConnection(int fd, Owner* owner, int id) : fd_(fd), owner_(owner), id_(id) {}

NetConnection::~NetConnection() {
  Close();
  if (reader_.joinable()) reader_.join();
  std::vector<std::thread> handlers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    handlers.swap(handlers_);
  }
  for (std::thread& t : handlers) t.join();
  close(fd_);
}

void NetConnection::Start() {
  reader_ = std::thread([this] { ReadLoop(); });
}

void NetConnection::Close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (open_) closed_locally_ = true;
    open_ = false;
    WakeAll();
  }
  shutdown(fd_, SHUT_RDWR);
}

bool NetConnection::IsOpen() {
  std::lock_guard<std::mutex> lock(mu_);
  return open_;
}

bool NetConnection::IsOwnThread() const {
  const std::thread::id self = std::this_thread::get_id();
  if (reader_.get_id() == self) return true;
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::thread& t : handlers_)
    if (t.get_id() == self) return true;
  return false;
}

NetConnection* NetConnection::Serving() {
  return t_serving;
}

bool NetConnection::SendFrame(Kind kind, uint32_t seq, std::string_view payload) {
  if (payload.size() > kMaxFrameBytes - kHeaderBytes) return false;
  std::string frame;
  frame.reserve(4 + kHeaderBytes + payload.size());
  Put<uint32_t>(&frame, static_cast<uint32_t>(kHeaderBytes + payload.size()));
  Put<uint8_t>(&frame, kind);
  Put<uint32_t>(&frame, seq);
  frame.append(payload);
  std::lock_guard<std::mutex> lock(send_mu_);
  if (netio::SendAll(fd_, frame.data(), frame.size())) return true;
  shutdown(fd_, SHUT_RDWR);  // the reader notices and ends the connection
  return false;
}

int NetConnection::Request(const CLumMsg& request, CLumMsg* reply) {
  std::string payload;
  EncodeLumMsg(request, &payload);
  if (payload.size() > kMaxFrameBytes - kHeaderBytes) return kNetErrOther;
  if (!reply) {
    if (!IsOpen()) return kNetErrNotConnected;
    return SendFrame(kNotify, 0, payload) ? 0 : kNetErrConnReset;
  }
  Pending pending;
  uint32_t seq;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return kNetErrNotConnected;
    seq = ++next_seq_;
    pending_[seq] = &pending;
  }
  bool sent = SendFrame(kRequest, seq, payload);
  std::unique_lock<std::mutex> lock(mu_);
  if (sent) {
    pending.cv.wait_for(lock, std::chrono::milliseconds(reply_timeout_ms_),
                        [&] { return pending.done || !open_; });
  }
  pending_.erase(seq);
  if (pending.done) {
    *reply = std::move(pending.reply);
    return 0;
  }
  return open_ && sent ? kNetErrTimedOut : kNetErrConnReset;
}

void NetConnection::ReadLoop() {
  int reason = 0;
  for (;;) {
    uint32_t length;
    if (!netio::RecvAll(fd_, &length, sizeof length)) break;
    if (length < kHeaderBytes || length > kMaxFrameBytes) {
      reason = kNetErrBadFrame;
      break;
    }
    std::string body(length, '\0');
    if (!netio::RecvAll(fd_, body.data(), length)) {
      reason = kNetErrConnReset;
      break;
    }
    std::string_view in(body);
    const auto kind = static_cast<Kind>(Take<uint8_t>(&in));
    const uint32_t seq = Take<uint32_t>(&in);
    reason = HandleFrame(kind, seq, in);
    if (reason) break;
  }
  bool report;
  {
    std::lock_guard<std::mutex> lock(mu_);
    report = !closed_locally_;
    open_ = false;
    WakeAll();
  }
  shutdown(fd_, SHUT_RDWR);
  if (report) owner_->OnClosed(this, reason);
}

int NetConnection::HandleFrame(Kind kind, uint32_t seq, std::string_view payload) {
  switch (kind) {
    case kRequest:
    case kNotify:
    case kReply: {
      Task task{kind, seq, CLumMsg()};
      if (!DecodeLumMsg(payload, &task.msg)) return kNetErrBadFrame;
      if (kind != kReply) {
        Enqueue(std::move(task));
        return 0;
      }
      std::lock_guard<std::mutex> lock(mu_);
      auto it = pending_.find(seq);
      if (it != pending_.end()) {  // else a late reply to a caller that gave up
        it->second->reply = std::move(task.msg);
        it->second->done = true;
        it->second->cv.notify_one();
      }
      return 0;
    }
    case kStreamStart: {
      if (payload.size() != 16) return kNetErrBadFrame;
      Task task{kind, seq, CLumMsg()};
      task.stream_id = Take<int32_t>(&payload);
      task.stream_length = Take<int64_t>(&payload);
      if (task.stream_length < 0 || task.stream_length > kMaxStreamBytes) return kNetErrBadFrame;
      {
        std::lock_guard<std::mutex> lock(mu_);
        incoming_.Reset(task.stream_length);
      }
      Enqueue(std::move(task));
      return 0;
    }
    case kAnswerStart: {
      if (payload.size() != 8) return kNetErrBadFrame;
      const int64_t length = Take<int64_t>(&payload);
      if (length < 0 || length > kMaxStreamBytes) return kNetErrBadFrame;
      std::lock_guard<std::mutex> lock(mu_);
      answer_.Reset(length);
      stream_cv_.notify_all();
      return 0;
    }
    case kStreamData:
    case kAnswerData: {
      std::lock_guard<std::mutex> lock(mu_);
      StreamBuffer& s = kind == kStreamData ? incoming_ : answer_;
      if (!s.started || s.received + static_cast<int64_t>(payload.size()) > s.total)
        return kNetErrBadFrame;
      s.received += static_cast<int64_t>(payload.size());
      s.bytes.append(payload);
      stream_cv_.notify_all();
      return 0;
    }
  }
  return kNetErrBadFrame;
}

void NetConnection::WakeAll() {
  for (auto& [seq, pending] : pending_) pending->cv.notify_one();
  task_cv_.notify_all();
  stream_cv_.notify_all();
}

void NetConnection::Enqueue(Task task) {
  std::lock_guard<std::mutex> lock(mu_);
  tasks_.push_back(std::move(task));
  if (idle_handlers_ == 0 && handlers_.size() < kMaxHandlers) {
    ++idle_handlers_;
    handlers_.emplace_back([this] { HandlerLoop(); });
  }
  task_cv_.notify_one();
}

void NetConnection::HandlerLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    task_cv_.wait(lock, [this] { return !open_ || !tasks_.empty(); });
    if (!open_) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    --idle_handlers_;
    lock.unlock();
    RunTask(task);
    lock.lock();
    ++idle_handlers_;
  }
}

void NetConnection::RunTask(Task& task) {
  if (task.kind == kStreamStart) {
    answered_ = false;
    t_serving = this;
    owner_->OnStreamStart(this, task.stream_id, static_cast<int>(task.stream_length));
    t_serving = nullptr;
    if (!answered_) {
      std::string payload;
      Put<int64_t>(&payload, 0);
      SendFrame(kAnswerStart, 0, payload);
    }
    return;
  }
  CLumMsg reply(task.msg.GetId());
  owner_->OnRequest(this, &task.msg, &reply);
  if (task.kind == kRequest) {
    std::string payload;
    EncodeLumMsg(reply, &payload);
    SendFrame(kReply, task.seq, payload);
  }
}

int NetConnection::SendStreamStart(int id, long total, int flag) {
  if (total < 0 || total > kMaxStreamBytes) return kNetErrOther;
  std::string payload;
  if (t_serving == this) {
    answered_ = true;
    Put<int64_t>(&payload, total);
    return SendFrame(kAnswerStart, 0, payload) ? 0 : kNetErrConnReset;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    answer_ = StreamBuffer();
  }
  Put<int32_t>(&payload, id);
  Put<int64_t>(&payload, total);
  Put<int32_t>(&payload, flag);
  return SendFrame(kStreamStart, 0, payload) ? 0 : kNetErrConnReset;
}

int NetConnection::StreamWrite(int length, const uint8_t* data) {
  if (length < 0 || (length > 0 && !data)) return kNetErrOther;
  const Kind kind = t_serving == this ? kAnswerData : kStreamData;
  // Large writes go out in frames well under the frame limit.
  constexpr int kChunk = 1 << 20;
  for (int done = 0; done < length; done += kChunk) {
    const int n = std::min(kChunk, length - done);
    if (!SendFrame(kind, 0, std::string_view(reinterpret_cast<const char*>(data) + done, n)))
      return kNetErrConnReset;
  }
  return 0;
}

int NetConnection::ResponseStreamStart(int* length) {
  std::unique_lock<std::mutex> lock(mu_);
  const bool started = stream_cv_.wait_for(lock, std::chrono::milliseconds(reply_timeout_ms_),
                                           [this] { return answer_.started || !open_; });
  if (!answer_.started) return started ? kNetErrConnReset : kNetErrTimedOut;
  if (length) *length = static_cast<int>(answer_.total);
  return 0;
}

int NetConnection::StreamRead(int length, uint8_t* buffer) {
  if (length < 0 || (length > 0 && !buffer)) return kNetErrOther;
  return ReadStream(t_serving == this ? &incoming_ : &answer_, length, buffer);
}

int NetConnection::ReadStream(StreamBuffer* s, int length, uint8_t* buffer) {
  std::unique_lock<std::mutex> lock(mu_);
  const size_t want = static_cast<size_t>(length);
  auto ready = [&] {
    const size_t have = s->bytes.size() - s->read_pos;
    const bool complete = s->started && s->received == s->total;
    return have >= want || complete || !open_;
  };
  stream_cv_.wait_for(lock, std::chrono::milliseconds(reply_timeout_ms_), ready);
  if (s->bytes.size() - s->read_pos < want) return open_ ? kNetErrTimedOut : kNetErrConnReset;
  std::memcpy(buffer, s->bytes.data() + s->read_pos, want);
  s->read_pos += want;
  if (s->read_pos == s->bytes.size()) {
    s->bytes.clear();
    s->read_pos = 0;
  }
  return 0;
}

int NetConnection::StreamEnd() {
  if (t_serving == this) return 0;
  std::lock_guard<std::mutex> lock(mu_);
  answer_ = StreamBuffer();
  return 0;
}
