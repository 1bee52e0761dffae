#include "netmsg/net_connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "netmsg/lum_wire.h"
#include "netmsg/net_socket.h"

namespace {

// A stream is held in memory on the receiving side; this bounds what a peer may announce.
constexpr int64_t kMaxStreamBytes = int64_t{1} << 30;
constexpr size_t kHeaderBytes = 5;  // kind + seq

thread_local NetConnection* t_serving = nullptr;
// The connection whose request runs on this thread.
thread_local NetConnection* t_running = nullptr;

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

// Header and payload pieces in as few calls as the kernel takes, without first copying a large
// payload behind its header.
bool SendGathered(int fd, std::string_view header, std::span<const std::string_view> payload) {
  std::vector<iovec> parts;
  parts.reserve(payload.size() + 1);
  parts.push_back({const_cast<char*>(header.data()), header.size()});
  for (std::string_view piece : payload)
    parts.push_back({const_cast<char*>(piece.data()), piece.size()});
  iovec* next = parts.data();
  size_t count = parts.size();
  while (count > 0) {
    msghdr m{};
    m.msg_iov = next;
    m.msg_iovlen = std::min<size_t>(count, IOV_MAX);
    ssize_t n = sendmsg(fd, &m, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (; count > 0 && static_cast<size_t>(n) >= next->iov_len; ++next, --count)
      n -= static_cast<ssize_t>(next->iov_len);
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + n;
      next->iov_len -= static_cast<size_t>(n);
    }
  }
  return true;
}

}  // namespace

void NetConnection::StreamBuffer::Reset(int64_t length) {
  started = true;
  total = length;
  received = 0;
  bytes.clear();
  read_pos = 0;
}

NetConnection::NetConnection(int fd, Owner* owner, int id)
    : fd_(fd), owner_(owner), id_(id), task_event_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

NetConnection::~NetConnection() {
  Close();
  std::vector<std::thread> handlers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    handlers.swap(handlers_);
  }
  for (std::thread& t : handlers) t.join();
  close(fd_);
  if (task_event_ >= 0) close(task_event_);
}

void NetConnection::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  SpawnHandlerLocked();
}

void NetConnection::Close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!ended_) closed_locally_ = true;
    ended_ = true;
    open_ = false;
    WakeAll();
  }
  shutdown(fd_, SHUT_RDWR);
}

void NetConnection::End(int reason) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
    ended_ = true;
    open_ = false;
    WakeAll();
  }
  shutdown(fd_, SHUT_RDWR);
  owner_->OnClosed(this, reason);
}

bool NetConnection::IsOpen() {
  std::lock_guard<std::mutex> lock(mu_);
  return open_;
}

bool NetConnection::IsOwnThread() const {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::thread& t : handlers_)
    if (t.get_id() == self) return true;
  return false;
}

NetConnection* NetConnection::Serving() {
  return t_serving;
}

bool NetConnection::SendFrame(Kind kind, uint32_t seq, std::string_view payload) {
  return SendFrame(kind, seq, std::span<const std::string_view>(&payload, 1));
}

bool NetConnection::SendFrame(Kind kind, uint32_t seq, std::span<const std::string_view> payload) {
  size_t size = 0;
  for (std::string_view piece : payload) size += piece.size();
  if (size > kMaxFrameBytes - kHeaderBytes) return false;
  std::string header;
  Put<uint32_t>(&header, static_cast<uint32_t>(kHeaderBytes + size));
  Put<uint8_t>(&header, kind);
  Put<uint32_t>(&header, seq);
  std::lock_guard<std::mutex> lock(send_mu_);
  if (SendGathered(fd_, header, payload)) return true;
  shutdown(fd_, SHUT_RDWR);  // the reader notices and ends the connection
  return false;
}

int NetConnection::Request(const CLumMsg& request, CLumMsg* reply) {
  const LumWireEncoding payload(request);
  if (payload.Size() > kMaxFrameBytes - kHeaderBytes) return kNetErrOther;
  if (!reply) {
    if (!IsOpen()) return kNetErrNotConnected;
    return SendFrame(kNotify, 0, payload.Pieces()) ? 0 : kNetErrConnReset;
  }
  Pending pending;
  uint32_t seq;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!open_) return kNetErrNotConnected;
    seq = ++next_seq_;
    pending_[seq] = &pending;
    ++waiting_callers_;
  }
  const bool nested = t_running == this;
  const bool sent = SendFrame(kRequest, seq, payload.Pieces());
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(reply_timeout_ms_);
  std::unique_lock<std::mutex> lock(mu_);
  if (nested) {  // let queued requests (the nested one among them) run while this one waits
    --executing_;
    if (!tasks_.empty()) {
      if (idle_handlers_ == 0) SpawnHandlerLocked();
      task_cv_.notify_one();
    }
  }
  while (sent && !pending.done && open_ && std::chrono::steady_clock::now() < deadline) {
    if (reading_) {
      pending.cv.wait_until(lock, deadline);
      continue;
    }
    reading_ = true;
    lock.unlock();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::optional<Task> task;
    int reason = 0;
    const bool ok =
        WaitReadable(static_cast<int>(std::max<int64_t>(left.count(), 0)), false) != 1 ||
        ReadOne(&task, &reason);
    lock.lock();
    ReleaseReaderLocked();
    if (task) EnqueueLocked(std::move(*task));
    if (!ok) {
      lock.unlock();
      End(reason);
      lock.lock();
    }
  }
  --waiting_callers_;
  if (nested) ++executing_;
  pending_.erase(seq);
  // A handler thread that stood back for the callers looks again by itself (kWatchPauseMs), so
  // that calls in quick succession do not wake it each time.
  WakeCallers();
  if (pending.done) {
    *reply = std::move(pending.reply);
    return 0;
  }
  return open_ && sent ? kNetErrTimedOut : kNetErrConnReset;
}

int NetConnection::WaitReadable(int timeout_ms, bool watch_tasks) {
  if (buffered_ > 0) return 1;  // a frame already read from the socket waits in the buffer
  pollfd p[2] = {{fd_, POLLIN, 0}, {task_event_, POLLIN, 0}};
  int n;
  do {
    n = poll(p, watch_tasks ? 2 : 1, timeout_ms);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  if (p[0].revents) return 1;
  uint64_t count;
  (void)!read(task_event_, &count, sizeof count);
  return 2;
}

bool NetConnection::Fill(size_t need) {
  if (rtail_ - rhead_ >= need) return true;
  if (rbuf_.use_count() > 1) {
    // Messages decoded from this buffer still use its bytes: the rest moves to a new one, sized
    // for what comes now, so that kept messages do not each hold a buffer grown for others.
    MoveReadBuffer(std::max(need, kReadChunk));
  } else if (need > rsize_) {
    MoveReadBuffer(need);
  } else {
    // Pairs with the release of the last message that used the buffer, done with its bytes.
    std::atomic_thread_fence(std::memory_order_acquire);
    if (rhead_ > 0) {
      std::memmove(rbuf_.get(), rbuf_.get() + rhead_, rtail_ - rhead_);
      rtail_ -= rhead_;
      rhead_ = 0;
    }
  }
  while (rtail_ < need) {
    // Reads ahead one chunk at most: a large frame is read to its end and no further, so that
    // nothing of the next one has to be moved to the front after it.
    const size_t want = std::min(rsize_ - rtail_, std::max(need - rtail_, kReadChunk));
    const ssize_t n = recv(fd_, rbuf_.get() + rtail_, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rtail_ += static_cast<size_t>(n);
  }
  return true;
}

void NetConnection::MoveReadBuffer(size_t size) {
  // Left uninitialised: every byte is received into before it is read.
  std::shared_ptr<char[]> fresh = std::make_shared_for_overwrite<char[]>(size);
  if (rtail_ > rhead_) std::memcpy(fresh.get(), rbuf_.get() + rhead_, rtail_ - rhead_);
  rtail_ -= rhead_;
  rhead_ = 0;
  rbuf_ = std::move(fresh);
  rsize_ = size;
}

bool NetConnection::ReadOne(std::optional<Task>* task, int* reason) {
  *reason = 0;
  if (!Fill(4)) return false;
  uint32_t length;
  std::memcpy(&length, rbuf_.get() + rhead_, sizeof length);
  if (length < kHeaderBytes || length > kMaxFrameBytes) {
    *reason = kNetErrBadFrame;
    return false;
  }
  if (!Fill(4 + size_t{length})) {
    *reason = kNetErrConnReset;
    return false;
  }
  std::string_view in(rbuf_.get() + rhead_ + 4, length);
  const auto kind = static_cast<Kind>(Take<uint8_t>(&in));
  const uint32_t seq = Take<uint32_t>(&in);
  *reason = HandleFrame(kind, seq, in, task);
  rhead_ += 4 + size_t{length};
  if (rhead_ == rtail_) {
    rhead_ = rtail_ = 0;
    if (rsize_ > kKeptReadBuffer) MoveReadBuffer(kReadChunk);  // after an outsized frame
  }
  buffered_ = rtail_ - rhead_;
  return *reason == 0;
}

int NetConnection::HandleFrame(Kind kind, uint32_t seq, std::string_view payload,
                               std::optional<Task>* request) {
  switch (kind) {
    case kRequest:
    case kNotify:
    case kReply: {
      Task task{kind, seq, CLumMsg()};
      if (!DecodeLumMsg(payload, &task.msg, rbuf_)) return kNetErrBadFrame;
      if (kind != kReply) {
        *request = std::move(task);
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
      *request = std::move(task);
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

void NetConnection::ReleaseReaderLocked() {
  reading_ = false;
  // Frames left in the buffer wake a handler thread that watches only the socket.
  if (buffered_ > 0) {
    const uint64_t one = 1;
    (void)!write(task_event_, &one, sizeof one);
  }
}

void NetConnection::WakeCallers() {
  for (auto& [seq, pending] : pending_) pending->cv.notify_one();
}

void NetConnection::WakeReaders() {
  WakeCallers();
  task_cv_.notify_all();
}

void NetConnection::EnsureWatcherLocked() {
  if (watching_ || reading_) return;
  if (idle_handlers_ == 0) SpawnHandlerLocked();
  task_cv_.notify_one();
}

void NetConnection::SpawnHandlerLocked() {
  if (!open_ || handlers_.size() >= kMaxHandlers) return;
  ++idle_handlers_;
  handlers_.emplace_back([this] { HandlerLoop(); });
}

void NetConnection::EnqueueLocked(Task task) {
  tasks_.push_back(std::move(task));
  if (executing_ > 0) return;  // the running request's thread takes it up next
  if (idle_handlers_ == 0) SpawnHandlerLocked();
  task_cv_.notify_one();
  const uint64_t one = 1;
  (void)!write(task_event_, &one, sizeof one);
}

// An idle handler runs queued tasks, else watches the socket while no caller does, reads a
// frame when one comes and runs it itself after handing the watch on.
void NetConnection::HandlerLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    if (!open_) return;
    if (!tasks_.empty() && executing_ == 0) {
      --idle_handlers_;
      RunOrQueueLocked(lock, std::nullopt);
      ++idle_handlers_;
      continue;
    }
    if (reading_ || waiting_callers_ > 0 || watching_) {
      task_cv_.wait_for(lock, std::chrono::milliseconds(kWatchPauseMs), [this] {
        return !open_ || (!tasks_.empty() && executing_ == 0) ||
               (!reading_ && waiting_callers_ == 0 && !watching_);
      });
      continue;
    }
    // One handler thread watches the socket; the others sleep until it stops watching.
    watching_ = true;
    lock.unlock();
    const int ready = WaitReadable(-1, true);
    lock.lock();
    watching_ = false;
    task_cv_.notify_one();
    if (ready != 1 || !open_ || reading_ || waiting_callers_ > 0) continue;
    reading_ = true;
    --idle_handlers_;
    lock.unlock();
    std::optional<Task> task;
    int reason = 0;
    // Another reader may have taken the bytes meanwhile; then there is nothing to read here.
    const bool ok = WaitReadable(0, false) != 1 || ReadOne(&task, &reason);
    lock.lock();
    ReleaseReaderLocked();
    WakeCallers();
    if (!ok) {
      ++idle_handlers_;
      lock.unlock();
      End(reason);
      lock.lock();
      continue;
    }
    // Nobody watches while this thread runs the request: requests run one at a time anyway,
    // and a thread that waits for bytes meanwhile reads them itself or calls a watcher.
    if (task) RunOrQueueLocked(lock, std::move(*task));
    ++idle_handlers_;
  }
}

void NetConnection::RunOrQueueLocked(std::unique_lock<std::mutex>& lock,
                                     std::optional<Task> fresh) {
  if (fresh) {
    if (executing_ > 0 || !tasks_.empty()) {
      tasks_.push_back(std::move(*fresh));
      return;
    }
  } else if (executing_ > 0 || tasks_.empty()) {
    return;
  }
  // This thread also runs what queued up behind its request.
  Task task = fresh ? std::move(*fresh) : std::move(tasks_.front());
  if (!fresh) tasks_.pop_front();
  for (;;) {
    ++executing_;
    lock.unlock();
    t_running = this;
    RunTask(task);
    t_running = nullptr;
    lock.lock();
    --executing_;
    if (tasks_.empty() || executing_ > 0) break;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  if (!tasks_.empty()) task_cv_.notify_one();
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
    const LumWireEncoding payload(reply);
    SendFrame(kReply, task.seq, payload.Pieces());
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
  EnsureWatcherLocked();
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
  EnsureWatcherLocked();
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
