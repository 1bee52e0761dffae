// NetConnection: one TCP connection of a network node, carrying requests in both directions.
//
// Frame on the wire: body_len:u32, then the body: kind:u8, seq:u32, payload (at most
// kMaxFrameBytes). A request carries a sequence number that its reply repeats, so both ends may
// send requests at any time and wait for their own replies.
//
// Reading is a role that one thread at a time holds: an idle handler thread, or a caller waiting
// for its reply (which then reads that reply itself, without a thread switch). A handler thread
// gives the role up before it runs the request it read, so a handler that itself sends a request
// and waits is still served: it reads as a caller, and another handler thread (up to
// kMaxHandlers) watches for the peer's next requests. Requests still run one at a time in their
// order of arrival; only while one waits for its own nested request do the next ones run. A frame
// that is not well formed ends the connection (reason kNetErrBadFrame). When the connection ends,
// every waiting caller is released with an error and the owner's OnClosed runs once, on the thread
// that noticed, unless the owner closed it itself.
//
// A connection must not be destroyed on one of its own threads; owners park it instead
// (see IsOwnThread).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "netmsg/lum_msg.h"

class NetConnection {
 public:
  static constexpr uint32_t kMaxFrameBytes = 64u << 20;
  static constexpr size_t kMaxHandlers = 8;

  class Owner {
   public:
    virtual ~Owner() = default;
    virtual void OnRequest(NetConnection* c, CLumMsg* request, CLumMsg* reply) = 0;
    virtual void OnStreamStart(NetConnection* c, int id, int length) = 0;
    virtual void OnClosed(NetConnection* c, int reason) = 0;
  };

  // Takes ownership of the connected socket fd.
  NetConnection(int fd, Owner* owner, int id);
  ~NetConnection();
  NetConnection(const NetConnection&) = delete;
  NetConnection& operator=(const NetConnection&) = delete;

  void Start();
  // Ends the connection from this side; OnClosed is not called. Idempotent.
  void Close();
  bool IsOpen();
  bool IsOwnThread() const;
  int Id() const { return id_; }
  int Fd() const { return fd_; }
  void SetReplyTimeout(uint32_t ms) { reply_timeout_ms_ = ms; }

  // Sends request; with a reply, waits for the peer's answer. 0 or an error number.
  int Request(const CLumMsg& request, CLumMsg* reply);

  // Bulk streams. The side that starts one writes its bytes and then reads the peer's answer
  // stream; the receiving side reads the bytes and writes the answer from inside its stream
  // handler (the calling thread tells the two apart). A handler that writes no answer answers
  // with an empty stream.
  int SendStreamStart(int id, long total, int flag);
  int StreamWrite(int length, const uint8_t* data);
  int ResponseStreamStart(int* length);
  int StreamRead(int length, uint8_t* buffer);
  int StreamEnd();
  // The connection whose stream handler runs on this thread, or null.
  static NetConnection* Serving();

 private:
  enum Kind : uint8_t {
    kRequest = 1,
    kNotify = 2,
    kReply = 3,
    kStreamStart = 4,
    kStreamData = 5,
    kAnswerStart = 6,
    kAnswerData = 7,
  };
  struct Task {
    Kind kind;
    uint32_t seq;
    CLumMsg msg;
    int stream_id = 0;
    int64_t stream_length = 0;
  };
  struct Pending {
    bool done = false;
    CLumMsg reply;
    std::condition_variable cv;
  };
  // Bytes of one stream in one direction.
  struct StreamBuffer {
    bool started = false;
    int64_t total = 0;
    int64_t received = 0;
    std::string bytes;
    size_t read_pos = 0;
    void Reset(int64_t length);
  };

  bool SendFrame(Kind kind, uint32_t seq, std::string_view payload);
  bool SendFrame(Kind kind, uint32_t seq, std::span<const std::string_view> payload);
  // Waits for bytes on the socket (1), or with watch_tasks for a queued task (2); 0 on time-out.
  int WaitReadable(int timeout_ms, bool watch_tasks);
  // Reads one frame (holding the reader role). A request or stream start comes back in *task.
  // False when the connection must end, with the reason.
  bool ReadOne(std::optional<Task>* task, int* reason);
  // Buffers at least need unread bytes (holding the reader role); false when the peer is gone.
  bool Fill(size_t need);
  // Replaces the read buffer by a new one of size bytes holding the unread bytes.
  void MoveReadBuffer(size_t size);
  // Returns 0, or the reason the connection must end.
  int HandleFrame(Kind kind, uint32_t seq, std::string_view payload, std::optional<Task>* task);
  void End(int reason);
  void SpawnHandlerLocked();
  void EnqueueLocked(Task task);
  void HandlerLoop();
  void WakeAll();      // under mu_: the connection ended
  void WakeReaders();  // under mu_: the reader role is free
  void WakeCallers();  // under mu_: callers waiting for the reader role
  // Under mu_: makes sure a handler thread watches the socket for a thread about to wait.
  void EnsureWatcherLocked();
  static constexpr int kWatchPauseMs = 2;
  void ReleaseReaderLocked();
  void RunTask(Task& task);
  // Runs a fresh task now when no other request runs or waits in the queue, else queues it;
  // then, or without one, runs the queue while nothing else runs (under mu_, which it leaves
  // while a task runs).
  void RunOrQueueLocked(std::unique_lock<std::mutex>& lock, std::optional<Task> fresh);
  int ReadStream(StreamBuffer* s, int length, uint8_t* buffer);

  const int fd_;
  Owner* const owner_;
  const int id_;
  uint32_t reply_timeout_ms_ = 60000;

  std::mutex send_mu_;

  mutable std::mutex mu_;
  // Separate wake-ups, so that a reply wakes its caller alone and not every idle handler.
  std::condition_variable task_cv_;
  std::condition_variable stream_cv_;
  bool open_ = true;
  bool ended_ = false;
  bool closed_locally_ = false;
  bool reading_ = false;        // a thread holds the reader role
  bool watching_ = false;       // a handler thread waits for the socket
  size_t waiting_callers_ = 0;  // callers waiting for replies read the socket themselves
  // Requests run one at a time, in the order they came, except that one waiting for its own
  // nested request lets the next ones run meanwhile.
  size_t executing_ = 0;
  uint32_t next_seq_ = 0;
  std::map<uint32_t, Pending*> pending_;
  std::deque<Task> tasks_;
  size_t idle_handlers_ = 0;
  std::vector<std::thread> handlers_;
  StreamBuffer incoming_;  // a stream the peer started
  StreamBuffer answer_;    // the peer's answer to our stream
  bool answered_ = false;  // the running stream handler wrote its answer
  const int task_event_;

  // Bytes received and not yet taken, used by the reader-role holder only; one recv usually
  // brings in a whole frame, often more. Messages decoded from a frame share the buffer for their
  // large data and images, so it is only written again once they are gone.
  static constexpr size_t kReadChunk = 64 * 1024;
  // A buffer grown for frames up to this size (images) is kept rather than made again for each.
  static constexpr size_t kKeptReadBuffer = 4u << 20;
  std::shared_ptr<char[]> rbuf_ = std::make_shared_for_overwrite<char[]>(kReadChunk);
  size_t rsize_ = kReadChunk;
  size_t rhead_ = 0;
  size_t rtail_ = 0;
  std::atomic<size_t> buffered_{0};  // eventfd: wakes handler threads that watch the socket
};
