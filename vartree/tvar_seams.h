// The two subsystems the tree calls into, seen from the tree.
//
// XTVarRemote is the remote link of a client mirror: every change and read of a linked node is
// forwarded through it to the server, by the node's full dotted name. The server-link channel
// (CVelRpc) implements it. XTVarDests is the destination manager (CAppDests) as the tree sees it:
// nodes of type 4 read and write their value through it.
//
// Results follow the remote operations: non-zero for success, or the count asked for.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CtVar;
class XTVarDests;

// What the server reports for one node (the reply of a remote read).
struct TVarRemoteValue {
  uint32_t type = 5;
  double number = 0;
  uint32_t size = 0;           // the server's value buffer size
  std::vector<uint8_t> value;  // the text or data, when the offered capacity allowed it
  std::string format;
};

class XTVarRemote {
 public:
  virtual ~XTVarRemote() = default;

  // Reads (type, number, size, value, format) of full_name; the server copies the value only
  // when capacity allows (see CtVar::ReadRemote). Returns the server's result.
  virtual int ReadVar(const std::string& full_name, uint32_t capacity, TVarRemoteValue* out) = 0;
  // Not awaited: 1 when sent.
  virtual int WriteVar(const std::string& full_name, uint32_t type, double number,
                       std::span<const uint8_t> value, const std::string& format) = 0;
  virtual int GetNextChildName(const std::string& full_name, const std::string& prev,
                               std::string* out) = 0;
  virtual uint32_t GetNumChildren(const std::string& full_name) = 0;
  // Returns the count the server's node keeps after releasing.
  virtual uint32_t Release(const std::string& full_name, int count) = 0;
  virtual uint32_t ReadTreeSize(const std::string& full_name) = 0;
  // Fills out with the serialized subtree of at most size bytes; returns the server's result.
  virtual int ReadTree(const std::string& full_name, uint32_t size, std::vector<uint8_t>* out) = 0;
  virtual int Lock(const std::string& full_name, uint32_t timeout_ms) = 0;
  virtual int UnLock(const std::string& full_name) = 0;
  virtual int MoveUp(const std::string& full_name) = 0;
  virtual int MoveDown(const std::string& full_name) = 0;
  virtual uint32_t GetRefCount(const std::string& full_name) = 0;
  virtual int Rename(const std::string& full_name, const std::string& new_name) = 0;
  // after_full_name empty: place first.
  virtual int PlaceAfter(const std::string& full_name, const std::string& after_full_name) = 0;

  // The destination manager of the client that owns this link (null when it has none).
  virtual XTVarDests* GetAppDest() = 0;
};

class XTVarDests {
 public:
  virtual ~XTVarDests();

  virtual int AttachVar(const char* dest, CtVar* var) = 0;
  virtual int DetachVar(const char* dest, CtVar* var, uint32_t flags) = 0;
  virtual double ReadRegister(const char* dest, uint32_t index, CtVar* var) = 0;
  virtual int WriteRegister(const char* dest, uint32_t index, double value, CtVar* var) = 0;
  virtual int WriteRegister(const char* dest, uint32_t index, const char* text, int length,
                            CtVar* var) = 0;
  // Receives into buffer (never more than buffer.size() bytes). length keeps the protocol
  // meaning of the original argument (2^31 - 1 asks for one value, bit 31 for buffered bytes).
  virtual int RecvMessage(const char* dest, std::span<uint8_t> buffer, uint32_t length, int remote,
                          uint32_t index, CtVar* var) = 0;
  // OZK_TVAR_TYPE of the register var is attached to; 0 when not attached.
  virtual uint32_t GetRegisterType(CtVar* var) = 0;

  // The process-wide current manager: the most recently constructed one that still lives.
  // A manager registers itself on construction and unregisters on destruction.
  static XTVarDests* Current();

 protected:
  XTVarDests();
};
