// CMsgHandler: a thread that reads commands from one destination and calls back.
//
// Text mode (terminator non-zero): lines up to the terminator or a carriage return (at most 255
// characters) are matched against up to 48 named entries; "!" repeats the previous command, an
// empty line is answered with CR LF, and event texts queued with AddEventMsg go out while the
// line is idle. Framed mode (terminator 0): 8-byte headers (32-bit id, 32-bit payload length,
// host order) select an entry by id; its callback reads the payload itself, and the payload of
// an unknown id is read and thrown away in small pieces, so an absurd length costs time, never
// memory.
//
// The thread reaches the destination only through the manager's RecvMessage/SendMessageW.
// Stopping signals the thread, cancels the connection's pending read and joins it; do not stop
// a handler while holding the tree lock (the thread may be waiting for it).
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class CAppDests;
class CtVar;
class CMsgHandler;

// arg: the argument text (text mode) or a pointer to the 32-bit payload length (framed mode).
using OzkMsgCallback = void (*)(CAppDests* dests, CtVar* dest, const void* arg, void* context);

// What a callback without a context receives as its context.
struct OzkMsgCall {
  CMsgHandler* handler;
  const char* line;  // the line, or for a prefix entry the entry's name
  int prefix;
};

struct OzkMsgFunc {
  std::string name;  // up to 255 characters
  uint32_t id = 0;
  OzkMsgCallback callback = nullptr;
  int prefix = 0;
  void* context = nullptr;
  bool in_use = false;
};

class CMsgHandler {
 public:
  static constexpr int kMaxFuncs = 48;
  static constexpr size_t kMaxLine = 255;
  static constexpr size_t kMaxEventText = 258;

  // Holds a reference to dest and starts the thread.
  CMsgHandler(CAppDests* dests, CtVar* dest, char terminator);
  ~CMsgHandler();
  CMsgHandler(const CMsgHandler&) = delete;
  CMsgHandler& operator=(const CMsgHandler&) = delete;

  OzkMsgFunc* AddMessageFunc(uint32_t id, OzkMsgCallback callback, void* context);
  OzkMsgFunc* AddMessageFunc(const char* name, OzkMsgCallback callback, void* context, int prefix);
  int DelMessageFunc(uint32_t id);
  int DelMessageFunc(const char* name);
  // 0 when three texts already wait or text has more than 258 characters.
  int AddEventMsg(const char* text);

  CtVar* Dest() const { return dest_; }
  char Terminator() const { return terminator_; }
  std::string GetAttachVarName();
  void SetAttachVarName(std::string name);
  std::string LastCommand();

  // Text mode: acts on one received line (terminator, carriage return and what follows them
  // are cut off) as the thread does; callbacks run on the caller's thread.
  void HandleLine(std::string line);

 private:
  void Run();
  void RunText();
  void RunFramed();
  // Waits up to ms; true when the handler is being stopped.
  bool WaitStop(int ms);
  void SendEvents();
  int Receive(uint8_t* buffer, size_t size);
  OzkMsgFunc* FreeEntry();

  CAppDests* dests_;
  CtVar* dest_;
  const char terminator_;

  std::mutex mu_;  // entries, events, names
  std::condition_variable stop_cv_;
  bool stop_ = false;
  std::array<OzkMsgFunc, kMaxFuncs> funcs_;
  std::string last_command_;
  std::string attach_var_name_;
  std::array<std::string, 4> events_;
  size_t event_write_ = 0;
  size_t event_read_ = 0;
  std::thread thread_;
};
