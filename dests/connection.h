// CConnection: the base of every destination connection (serial port, socket, PLC link).
//
// The destination manager (CAppDests) never names a connection class: it asks the registry
// (conn_factory.h) for an object by comm role and drives it through the virtual operations
// below. Destinations whose connection names are equal share one object; its reference count
// counts the slots that use it and the last Release deletes it.
//
// The base behaviour is that of a link that accepts nothing and has nothing to read; block
// register operations are built on the single-value ones as comma-separated text. Receives
// return the bytes read, 0 for none and a negative count for a broken link.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "dests/dest_rec.h"
#include "vartree/ozk_object.h"

class CtVar;
class CAppDests;

// A receive length with this bit set asks a stream connection for one byte it already holds.
constexpr uint32_t kRecvBufferedFlag = 0x80000000u;
// A receive length that asks for one register value as text.
constexpr uint32_t kRecvOneValue = 0x7FFFFFFFu;

// Called by a connection when a register it serves changes (context as given when created).
using OzkVarChangeCallback = void (*)(const char* var_name, double value, void* context);

class CConnection : public COzkObject {
  OZK_DECLARE_RUNTIME_CLASS(CConnection)

 public:
  static constexpr uint32_t kSendLockTimeoutMs = 3000;
  static constexpr size_t kLineRingSize = 1024;

  CConnection();
  ~CConnection() override;
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  virtual int SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t index, CtVar* var);
  // buffer bounds what may be written; length keeps the protocol meaning (kRecvBufferedFlag,
  // kRecvOneValue) and is otherwise the byte count asked for.
  virtual int RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                          CtVar* var);
  virtual std::wstring GetDestDescription(CtVar* dest, uint32_t flags);
  // Fills rec (zeroed by the caller) from the node; 1 when the class knows the layout.
  virtual int GetDest(CtVar* dest, DEST_DEF_REC* rec);
  virtual int Open(CtVar* dest, int index, DEST_DEF_REC* rec, CAppDests* dests);
  // Unblocks a pending read when a message handler on this connection is stopped.
  virtual int Cancel();
  virtual int ReadRegisters(CtVar* dest, uint32_t start, std::span<double> values, CtVar* var);
  virtual int WriteRegisters(CtVar* dest, uint32_t start, std::span<const double> values,
                             CtVar* var);
  virtual uint32_t GetRegisterType(CtVar* var);
  virtual void* CreateVarChangeCallback(const char* var_name, const char* dest_name,
                                        uint32_t offset, OzkVarChangeCallback callback,
                                        void* context);
  virtual void DeleteVarChangeCallback(const char* var_name, void* handle);
  virtual void* CreateVarChangeTrigger(const char* dest_name, uint32_t offset, int arg);
  virtual void DeleteVarChangeTrigger(const char* dest_name, uint32_t offset, int arg);
  virtual int AttachVar(CtVar* var);
  // The next line ended by terminator (without it), or "" when no whole line has arrived yet;
  // at most maximum bytes, terminator included, are looked at.
  virtual std::string RecvQueuedMessage(CtVar* dest, int maximum, char terminator);
  virtual int IsConnected(CtVar* dest);
  // Told when a message handler of the destination queues (1) or sends (0) an event text.
  virtual int QueuedMessageNotice(CtVar* dest, int queued);

  // lock non-zero: waits up to 3000 ms for the send lock (0 on time-out); 0: releases it. The
  // lock is recursive for its holder, like the kernel mutex it stands for.
  int LockSend(int lock);
  static uint64_t SendLockTimeouts();

  uint32_t AddRef();
  // Returns the count left; at 0 the object has deleted itself.
  uint32_t Release();
  uint32_t RefCount() const { return ref_count_.load(); }

  const std::wstring& GetName() const { return name_; }
  void SetName(std::wstring name) { name_ = std::move(name); }
  uint32_t GetRole() const { return role_; }
  void SetRole(uint32_t role) { role_ = role; }
  uint16_t GetLastError() const { return last_error_; }
  void SetLastError(uint16_t error) { last_error_ = error; }

 private:
  size_t RingCount() const;

  std::atomic<uint32_t> ref_count_{1};
  uint16_t last_error_ = 0;
  uint8_t ring_[kLineRingSize] = {};
  uint32_t ring_read_ = 0;
  uint32_t ring_write_ = 0;

  std::mutex send_mu_;
  std::condition_variable send_cv_;
  std::thread::id send_owner_;
  int send_depth_ = 0;

  std::wstring name_;
  uint32_t role_ = 0;
};
