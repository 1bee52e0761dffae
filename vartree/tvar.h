// CtVar: a named, typed node of the variable tree, owning its children.
//
// The tree is the library's shared data model: settings, results, destination records,
// conditions and equations all live in it. A node holds a number (type 0), a text (1), binary
// data (2), a reference to a destination register (4, "dest:reg:count"; the value lives in the
// destination) or nothing (5, a branch). Type 3 is only reported by GetType for an integral
// number. Dotted paths ("AppVar.Result", "AppVar.Camera[Index]") address nodes; names compare
// ASCII-case-insensitively and are cut to 59 characters.
//
// A node of a client mirror carries a remote link (XTVarRemote): every change and read is then
// forwarded to the server by the node's full name. Every operation takes the process-wide
// recursive tree lock (CtVarLock). Nodes are reference counted: Release deletes a node (and its
// subtree) when neither it nor a descendant holds a reference. Deleting a node unlinks it from
// its parent, under the tree lock.
//
// A hot reader may read numbers without the lock (BeginUnlockedRead): the type, number and remote
// link are stored atomically, only under the lock, and node memory is reused for nodes only and
// never unmapped, so such a read never faults and a change meanwhile shows in the lock's sequence.
//
// Status results follow the library's convention: non-zero (usually 1) for success, 0 for
// failure.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mutex.h"
#include "vartree/child_index.h"
#include "vartree/lock_free_field.h"
#include "vartree/ozk_object.h"
#include "vartree/tvar_seams.h"

class CSerialTvar;
class XVelStorage;

enum OZK_TVAR_TYPE : uint32_t {
  OZK_TVAR_DOUBLE = 0,
  OZK_TVAR_STRING = 1,
  OZK_TVAR_DATA = 2,
  OZK_TVAR_INT = 3,
  OZK_TVAR_DEST = 4,
  OZK_TVAR_NONE = 5,
};

enum VAR_RESULT_TYPE : uint32_t {
  VAR_RESULT_NONE = 0,
  VAR_RESULT_PASSED = 1,
  VAR_RESULT_RECYCLED = 2,
  VAR_RESULT_REJECTED = 3,
};

enum REJECTOR_RESULT : uint32_t {
  REJECTOR_PASSED = 0,
  REJECTOR_RECYCLED = 1,
  REJECTOR_REJECTED = 2,
  REJECTOR_NONE = 3,
};

enum OZK_TVAR_FILE_MODE : int {
  OZK_TVAR_FILE_BINARY = 0,
  OZK_TVAR_FILE_HEX = 1,
};

// Option bits.
constexpr uint32_t TVAR_OPT_SYSTEM = 0x1;            // used by the library; not removable by users
constexpr uint32_t TVAR_OPT_NO_NUMERIC_ORDER = 0x2;  // children keep insertion order
constexpr uint32_t TVAR_OPT_RESULT_MASK = 0xF0;      // bits 4 to 7: VAR_RESULT_TYPE
constexpr uint32_t TVAR_OPT_NO_DEST_REGISTER = 0x100;  // attachments are not registered
constexpr uint32_t TVAR_OPT_RESULT_VAR = 0x400;        // receives results
constexpr uint32_t TVAR_OPT_INHERITED = TVAR_OPT_NO_NUMERIC_ORDER | TVAR_OPT_NO_DEST_REGISTER;

constexpr size_t kTVarMaxNameLength = 59;           // longer names are cut
constexpr size_t kTVarFormatSize = 10;              // format field, zero terminator included
constexpr uint32_t kTVarMaxRecordNameLength = 120;  // child name length field in a record

class CtVar : public COzkObject {
  OZK_DECLARE_RUNTIME_CLASS(CtVar)

 public:
  // An unnamed, empty root.
  CtVar();
  // A node named name (a trailing "]" dropped). The caller links it into parent's list;
  // next is stored as the next sibling. With a parent the node inherits the parent's
  // TVAR_OPT_INHERITED bits and remote links, and follows the parent's destination attachment.
  CtVar(const char* name, CtVar* parent, CtVar* next);
  // A new unnamed root holding a deep copy of other's value and subtree.
  CtVar(CtVar& other);
  ~CtVar() override;

  CtVar& operator=(const CtVar&) = delete;

  // Node memory comes from and returns to a pool that never gives it back to the system.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size);

  // Live nodes in the process.
  static int64_t LiveCount();
  // Grows whenever a node is deleted or renamed: a node pointer obtained by name is still the
  // node that name resolves to while the epoch is unchanged (creating nodes does not move names).
  static uint64_t StructureEpoch();
  // Grows whenever a node is created, deleted or renamed, or its options change (its result
  // state aside): what was derived from the tree's shape and marks still holds while it is
  // unchanged.
  static uint64_t LayoutEpoch();
  // Grows with the structure epoch and whenever a node starts or stops holding a plain number
  // (HoldsPlainNumber): nodes found by name and checked once under it still hold plain numbers
  // while it is unchanged.
  static uint64_t PlainNumberEpoch();

  // ---- Reading without the tree lock ----
  // Begin succeeds while no thread holds the tree lock. Until End, GetStoredType, StoredNumber
  // and GetRpc of nodes obtained before may be called without the lock (on a node deleted
  // meanwhile they give garbage); what they gave counts only if End returns true, and node
  // pointers count only if epoch is the PlainNumberEpoch they were found and checked under.
  struct UnlockedRead {
    port::RecursiveMutex* lock;
    uint64_t sequence;
    uint64_t epoch;  // PlainNumberEpoch()
  };
  static bool BeginUnlockedRead(UnlockedRead* read) {
    port::RecursiveMutex* const lock = tree_lock_.load(std::memory_order_acquire);
    read->lock = lock;
    read->sequence = lock->SequenceBefore();
    // After a switch the holders of the new lock leave the old one's sequence alone. The switch
    // stores the new lock while holding the old one: a sequence read after the switch makes the
    // second look find the new lock, and one read before it has changed by the end.
    if ((read->sequence & 1) != 0 || tree_lock_.load(std::memory_order_acquire) != lock) {
      return false;
    }
    // Moved only under the lock, so the sequence orders it like the values.
    read->epoch = plain_number_epoch_.load(std::memory_order_relaxed);
    return true;
  }
  static bool EndUnlockedRead(const UnlockedRead& read) {
    return read.lock->SequenceAfter() == read.sequence;
  }

  // ---- Values ----
  CtVar& operator=(double value);
  CtVar& operator=(const char* text);       // zero-terminated, or a mixed text to its 16-bit zero
  CtVar& operator=(std::string_view text);  // the bytes of a text, a mixed one whole
  CtVar& operator+=(const char* text);
  CtVar& operator=(CtVar& other);  // deep copy onto this node
  void SetData(const uint8_t* data, uint32_t size);

  explicit operator double();
  explicit operator float();
  explicit operator long();
  // The value buffer (null for a branch). Type 4: the text read from the destination, in a
  // per-thread buffer that the next such read overwrites.
  explicit operator const char*();
  // The text as a wide string (mixed and UTF-16 forms decoded).
  explicit operator std::wstring();
  const uint8_t* GetData(uint32_t* size);

  uint32_t GetType();
  [[gnu::always_inline]] uint32_t GetStoredType() const { return type_; }
  // The number as held, without locking, asking the server or reading an attached destination
  // (which may be this node's own reader, as for the discrete input bits). Callers that want
  // the live value hold the tree lock and check GetRpc() and the type first.
  [[gnu::always_inline]] double StoredNumber() const { return number_; }
  bool IsNumber() const;
  // Whether StoredNumber is the node's value: it is no text, reads no destination and is not
  // linked to a server.
  [[gnu::always_inline]] bool HoldsPlainNumber() const {
    const uint32_t type = type_;
    return type != OZK_TVAR_STRING && type != OZK_TVAR_DEST && !remote_;
  }
  std::string GetValueStr();

  // Refreshes from the server, then returns the format.
  std::string GetFormat();
  // The format field as held (it need not be terminated inside its 10 bytes).
  std::string_view FormatView() const;
  int SetFormat(const char* format);
  const wchar_t* GetUnits() const { return units_ ? units_->c_str() : nullptr; }
  void SetUnits(const wchar_t* units);
  uint32_t GetUserWord() const { return user_word_; }
  void SetUserWord(uint32_t word) { user_word_ = word; }

  VAR_RESULT_TYPE GetResult() const;
  void SetResult(VAR_RESULT_TYPE result);
  void ClearResult() { SetResult(VAR_RESULT_NONE); }
  void ClearState() { ClearResult(); }
  REJECTOR_RESULT GetState() const;
  void SetState(REJECTOR_RESULT state);
  uint32_t GetOptions() const { return options_; }
  void SetOptions(uint32_t bits, int recursive = 0);
  void ClearOptions(uint32_t bits, int recursive = 0);

  // ---- Navigation ----
  const char* GetName() const { return named_ ? name_.c_str() : nullptr; }
  std::string_view NameView() const { return name_; }
  CtVar* GetParent() const { return parent_; }
  CtVar* GetParent(const char* name);
  CtVar* GetNextSibling() const { return next_; }
  CtVar* GetFirstChild() const { return first_child_; }
  CtVar* GetLastChild() const { return last_child_; }
  CtVar* GetTreeRoot();
  int GetIndex() const;
  int GetArrayDimension() const;
  uint32_t GetNumChildren();
  int GenerationsTo(const char* name) const;
  // prev null: the first child; else the child after prev (null when prev is not a child).
  CtVar* GetNextChild(CtVar* prev, int refresh = 0);

  [[gnu::always_inline]] XTVarRemote* GetRpc() const { return remote_; }
  void SetRpc(XTVarRemote* rpc);
  XTVarDests* GetAppDest() const;

  std::string GetVarFullName(int with_top = 1) const;
  std::wstring GetVarName() const;

  // ---- Lookup and creation ----
  // A C-string name that holds the mixed 0xFF 0xFE form must end with a zero UTF-16 unit;
  // callers holding a counted text pass it as a std::string_view (or std::string) instead.
  CtVar* GetChild(const char* name, int len = 0, int create = 0, int append = 0);
  CtVar* GetChild(std::string_view name, int len = 0, int create = 0, int append = 0);
  CtVar& operator[](const char* path);
  CtVar& operator[](std::string_view path);
  CtVar& operator[](int index);
  CtVar* Index(const char* path, int create);
  CtVar* Index(std::string_view path, int create);
  CtVar* GetAt(const char* name, int cameras, int camera, int create);
  std::string UniqueChildName() const;

  // ---- Structure ----
  int Rename(const char* new_name);
  int MoveUp();
  int MoveDown();
  int PlaceAfter(CtVar* after);
  uint32_t AddRef();
  uint32_t Release(uint32_t n = 1, int remote = 0, int destroy = 1, uint32_t detach_arg = 0);
  uint32_t GetRefCount(int remote = 0);
  bool AnyChildHasRef() const;
  // keep: names, each zero-terminated, ended by an empty name (a second zero); may be null.
  void RemoveAllChildren(const char* keep = nullptr, int remote = 0, int destroy = 1);
  void RemoveAllNumericChildren(int remote = 0, int destroy = 1);
  bool IsSameTreeStructureAs(const CtVar* other) const;
  int Lock(uint32_t timeout_ms = 4000, int remote = 0);
  int UnLock(int remote = 0);

  // ---- Destination attachment (type 4) ----
  int AttachToDestination(const char* dest, uint32_t reg, uint32_t count);
  // Parses "name:reg:count" (count 0 when absent; text without ":" is all name, register 0).
  static void DestCmpts(std::string_view text, std::string* dest, uint32_t* reg, uint32_t* count);
  bool IsAttachedToDest(std::string* dest = nullptr, uint32_t* reg = nullptr,
                        uint32_t* count = nullptr) const;
  int ReAttachVar(int recursive = 0);
  double ReadAttachedDest();
  std::string ReadAttachedDestString();
  int WriteAttachedDest(double value);
  int WriteAttachedDest(const char* text);

  // ---- Remote mirroring ----
  int ReadRemote();
  int WriteRemote(CtVar* src);
  int ReadTreeRemote();
  int GetNextChildNameRemote(const char* prev, std::string* out);
  int ResyncWithBase(int drop);
  int SetRemoteConnectState(int on);

  // ---- Serialization ----
  int SaveStoredVar(CSerialTvar* stream);
  int ReadStoredVar(CSerialTvar* stream);
  uint32_t SerializeTreeSize();
  int SerializeTree(uint8_t* buffer, uint32_t size);
  int UnSerializeTree(const uint8_t* buffer, uint32_t size);
  std::vector<uint8_t> SerializeTree();  // the whole record
  int Save(XVelStorage* storage);
  int Load(XVelStorage* storage);
  int WriteFile(FILE* file, int mode);
  int ReadFile(FILE* file, int mode);
  int WriteFile(const wchar_t* path);
  int ReadFile(const wchar_t* path);

 private:
  friend class CtVarChildIndex;

  CtVar(std::string_view name, CtVar* parent);  // a child about to be linked by CreateChild
  void SetInitialName(std::string_view name);
  void SetOptionBits(uint32_t options);
  void InitFromParent();
  // GetChild and operator[] over a text of known extent.
  CtVar* FindOrCreate(std::string_view path, int len, int create, int append);
  CtVar& Walk(std::string_view path);
  void LinkChild(CtVar* child, CtVar* before);  // before null: append
  void UnlinkChild(CtVar* child);
  CtVar* FindChild(std::string_view component);
  CtVar* FindChild(std::string_view component, uint32_t hash);  // hash: CtVarChildIndex::Hash
  CtVar* CreateChild(std::string_view component, int append);
  CtVar* Resolve(std::string_view component, bool create);
  void ResolveIndirect(std::string& component) const;
  void StoreText(std::string_view text);
  void TerminateText();  // a text buffer from outside may lack its zero
  // The byte range [first, second) of a node that readers without the lock load.
  static std::pair<size_t, size_t> LockFreeFields();
  void SetDestCmpts(const char* dest, uint32_t reg, uint32_t count);
  void WriteLinked();  // forwards this node's value to the server when linked
  void DeleteUnreferencedChildren();
  void ReleaseChildren(const char* keep, bool numeric_only, int remote, int destroy);
  const char* TextValue() const;
  void SetNameStorage(std::string_view name);
  static void StructureChanged();  // under the tree lock: grows the structure epoch
  // Under the tree lock: the only way type_ and remote_ change on a live node.
  void SetStoredKind(uint32_t type, XTVarRemote* remote);

  friend port::RecursiveMutex* GetTreeLock();
  friend void SetTreeLock(port::RecursiveMutex* lock);
  static std::atomic<port::RecursiveMutex*> tree_lock_;  // never null
  static std::atomic<uint64_t> structure_epoch_;
  static std::atomic<uint64_t> plain_number_epoch_;
  int ReadStoredVarAt(CSerialTvar* stream, int depth);

  // What a path lookup touches comes first, so that a step stays within one cache line or two.
  std::string name_;       // held inline: lookups compare it without another indirection
  CtVarChildIndex index_;  // active for nodes with many children
  CtVar* first_child_ = nullptr;
  CtVar* next_ = nullptr;
  CtVar* parent_ = nullptr;
  bool named_ = false;          // a root is unnamed (GetName gives null)
  std::vector<uint8_t> value_;  // size() is the value buffer size
  // What readers without the lock read: stored only under the tree lock.
  LockFreeField<uint32_t> type_{OZK_TVAR_NONE};
  LockFreeField<double> number_{0};
  LockFreeField<XTVarRemote*> remote_{nullptr};
  XTVarRemote* parked_remote_ = nullptr;
  uint32_t ref_count_ = 0;
  uint32_t options_ = 0;
  std::array<char, kTVarFormatSize> format_{};
  uint32_t user_word_ = 0;
  std::unique_ptr<std::wstring> units_;

  // Not part of the record: O(1) append and counting.
  CtVar* last_child_ = nullptr;
  uint32_t child_count_ = 0;
};

// Scoped guard of the process-wide tree lock. The time-out argument is accepted for the callers'
// sake; entry waits without limit.
class CtVarLock {
 public:
  explicit CtVarLock(uint32_t timeout_ms = 4000);
  ~CtVarLock();
  CtVarLock(const CtVarLock&) = delete;
  CtVarLock& operator=(const CtVarLock&) = delete;

 private:
  port::RecursiveMutex* lock_;
};

// The tree lock in force, and its replacement (an in-process server engine shares its own).
// Null restores the library's own lock.
port::RecursiveMutex* GetTreeLock();
void SetTreeLock(port::RecursiveMutex* lock);

// The wide form of a tree text (exported for hosts; see port::MixedToWide).
std::wstring AsciiToCString(const char* text);
