// NetConnection: one TCP connection of a network node, carrying requests in both directions.
//
// Frame on the wire: body_len:u32, then the body: kind:u8, seq:u32, payload (at most
// kMaxFrameBytes). A request carries a sequence number that its reply repeats, so both ends may
// send requests at any time and wait for their own replies. One reader thread only reads frames:
// it hands replies to their waiters and stream bytes to their buffers, and queues requests and
// stream starts for the handler threads. A handler that itself sends a request and waits is
// therefore still served: when every handler thread is busy, another one is started (up to
// kMaxHandlers). A frame that is not well formed ends the connection (reason kNetErrBadFrame).
// When the connection ends, every waiting caller is released with an error and the owner's
// OnClosed runs once, on the reader thread, unless the owner closed it itself.
//
// A connection must not be destroyed on one of its own threads; owners park it instead
// (see IsOwnThread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
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
  void ReadLoop();
  // Returns 0, or the reason the connection must end.
  int HandleFrame(Kind kind, uint32_t seq, std::string_view payload);
  void Enqueue(Task task);
  void HandlerLoop();
  void WakeAll();  // under mu_
  void RunTask(Task& task);
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
  bool closed_locally_ = false;
  uint32_t next_seq_ = 0;
  std::map<uint32_t, Pending*> pending_;
  std::deque<Task> tasks_;
  size_t idle_handlers_ = 0;
  std::vector<std::thread> handlers_;
  StreamBuffer incoming_;  // a stream the peer started
  StreamBuffer answer_;    // the peer's answer to our stream
  bool answered_ = false;  // the running stream handler wrote its answer

  std::thread reader_;
};
