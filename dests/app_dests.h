// CAppDests: the destination manager. Knows every place result data goes out to or comes in
// from, keeps them as nodes "Destinations.<n>" (n = 1..99) of the variable tree, and holds per
// destination a slot with its live connection (shared by connection name, see conn_factory.h),
// its open serial port and its cached settings record. All traffic of the library goes through
// it by destination name: attached variables (the tree's XTVarDests seam), condition actions,
// result lines.
//
// The "Destinations" node is guarded by the tree lock. Operations on an unknown name, a missing
// connection or an index above 99 return 0 or null. Serial ports are opened here for role-2
// connections, with reads and writes serialised by two mutexes (2000 ms waits).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "dests/conn_factory.h"
#include "dests/connection.h"
#include "dests/dest_rec.h"
#include "dests/msg_handler.h"
#include "dests/result_line.h"
#include "platform/serial_port.h"
#include "vartree/tvar_seams.h"

class CConnection;
class CtVar;
class XAppDestsClient;
class XAppDestsLink;

enum SYS_DEST_ID : int {
  SYS_DEST_COM = 0,
  SYS_DEST_SOCK_5020 = 1,
  SYS_DEST_SOCK_5021 = 2,
  SYS_DEST_RESULT_PORT = 3,  // 5022, where result lines go
  SYS_DEST_GPI = 4,
  SYS_DEST_GPO = 5,
  SYS_DEST_OTHER_COM = 6,
  SYS_DEST_SOCK_5023 = 7,
  SYS_DEST_SOCK_5085 = 8,
  SYS_DEST_SOCK_5024 = 9,
};
constexpr int kNumSysDests = 10;
constexpr int kMaxDests = 99;
constexpr uint32_t kUnsetPort = 0xFFFFFF;  // a placeholder server port no equality test matches

class CAppDests : public XTVarDests {
 public:
  // default_port 0 means 3 ("COM3"); link null when the server runs in this process.
  CAppDests(CtVar* root, XAppDestsLink* link = nullptr, int default_port = 0, int open = 0);
  ~CAppDests() override;
  CAppDests(const CAppDests&) = delete;
  CAppDests& operator=(const CAppDests&) = delete;

  // ---- Life ----
  // Builds the connections of every destination in the tree and ensures the system ones.
  int Open();
  // all 0 keeps the system destinations; disconnect 0 keeps connections for a later Open.
  void Close(int all, int disconnect);
  int ResetSolution();

  // ---- Adding (add_ref adds a node reference for the caller) ----
  CtVar* AddDest(uint32_t role, uint32_t port, const char* host, int add_ref, int udp);
  CtVar* AddDest(const char* port_name, uint32_t baud, uint32_t parity, uint32_t stop_bits,
                 int add_ref);
  CtVar* AddDestEx(const char* port_name, uint32_t baud, uint32_t parity, uint32_t stop_bits,
                   uint32_t byte_size, OZK_HANDSHAKE_TYPE flow, int add_ref);
  // role_type non-zero: a slave (role 12 or 13) instead of a master (3 or 4).
  CtVar* AddModBusDest(const DEST_MODBUS_REC* rec, int role_type, int add_ref);
  CtVar* AddModBusSerialDest(uint32_t device, uint32_t reg_addr, uint32_t data_type,
                             uint32_t reg_func, uint32_t num_regs, int role_type, int add_ref);
  // A PLC link equal in role, address, station, network, PC and register is returned again.
  CtVar* AddMelsecDest(const DEST_MELSEC_REC* rec, int add_ref);
  // area: the PLC's data area (its SNP_DATA_AREA_TYPE); equal in register, area and CPU id
  // (SNP) or host (SRTP): the existing one.
  CtVar* AddSNPDest(uint32_t reg_addr, uint32_t area, uint32_t baud, uint32_t parity,
                    uint32_t stop_bits, const char* cpu_id, const char* password, int add_ref);
  CtVar* AddSRTPDest(uint32_t reg_addr, uint32_t area, const char* host, int add_ref);
  CtVar* AddEthernetIpDest(uint32_t reg_addr, uint32_t data_type, uint32_t num_regs,
                           uint32_t address, uint32_t net_mask, const char* node_name, int add_ref);
  CtVar* AddProfinetDest(uint32_t reg_addr, uint32_t data_type, uint32_t num_regs,
                         const char* index, const char* host, int add_ref);
  CtVar* AddControlLogixDest(const char* host, uint32_t slot, int add_ref);
  CtVar* AddMotoManDest(uint32_t baud, uint32_t parity, uint32_t stop_bits, uint32_t data_bits,
                        int add_ref);
  CtVar* AddSlmpClientDest(uint32_t address, uint32_t port, uint32_t net, uint32_t node,
                           int add_ref, uint32_t device_type);
  CtVar* AddSlmpServerDest(uint32_t address, uint32_t port, int add_ref, uint32_t device_type);
  CtVar* AddGPIODest(uint32_t role, int add_ref);
  CtVar* AddDetectedDest(uint32_t role, int add_ref);
  void AddDetectedDevices();

  // ---- Lookup ----
  CtVar* GetDestID(const char* name, int add_ref = 0);
  CtVar* GetNextDest(CtVar* after, int add_ref = 0);
  int GetNumDests();
  // Lowest free slot index, 100 when every slot is taken.
  int GetFreeIndex();
  // Fills rec from the node through its connection; 1 when the destination has a connection.
  int GetDest(CtVar* dest, DEST_DEF_REC* rec);
  uint32_t GetDestRole(const char* name);
  // The connection of dest, created and opened on first use; rec (when given) is refilled.
  CConnection* GetConn(CtVar* dest, DEST_DEF_REC* rec);
  CtVar* GetSysDest(int id, int add_ref = 0);
  int UpdateSysDest(int id, CtVar* dest);
  int IsSysDest(int index);
  int IsSysDest(CtVar* dest);
  std::wstring GetDestDescription(CtVar* dest, uint32_t flags);
  // 0 when the destination has no open connection: asking does not open one.
  int IsConnected(CtVar* dest);
  // The slot's cached settings record (index 1..99), for the connection classes.
  DEST_DEF_REC* GetSlotRecord(int index);

  // ---- Traffic ----
  int SendMessageW(CtVar* dest, std::span<const uint8_t> data, int remote, uint32_t index,
                   CtVar* var);
  int SendMessageW(const char* name, std::span<const uint8_t> data, int remote, uint32_t index,
                   CtVar* var);
  // The text with its terminating zero: 8-bit when ascii, else UTF-16LE.
  int SendMessageW(CtVar* dest, const std::wstring& text, int ascii);
  int RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, int remote,
                  uint32_t index, CtVar* var);
  int RecvMessage(const char* dest, std::span<uint8_t> buffer, uint32_t length, int remote,
                  uint32_t index, CtVar* var) override;
  double ReadRegister(const char* dest, uint32_t index, CtVar* var) override;
  int WriteRegister(const char* dest, uint32_t index, double value, CtVar* var) override;
  int WriteRegister(const char* dest, uint32_t index, const char* text, int length,
                    CtVar* var) override;
  int ReadRegisters(const char* dest, uint32_t start, std::span<double> values, CtVar* var);
  int WriteRegisters(const char* dest, uint32_t start, std::span<const double> values, CtVar* var);
  int LockSend(CtVar* dest, int lock);
  std::string RecvQueuedMessage(const char* dest, int maximum, char terminator);

  // ---- Attached variables ----
  int AttachVar(const char* dest, CtVar* var) override;
  int DetachVar(const char* dest, CtVar* var, uint32_t flags) override;
  uint32_t GetRegisterType(CtVar* var) override;
  void CleanAttachVars();
  // The next attached variable name of dest after iterator (null: the first); false at the end.
  bool GetAttachedVarName(CtVar* dest, std::string* name, CtVar*& iterator);
  // "AppVar.Global.My_Var" <-> "Global_My#Var", the child name under "AttachVar".
  static std::string EncodeAttachKey(const std::string& full_name);
  static std::string DecodeAttachKey(const std::string& key);
  int SetGPIVariables(int attach);

  // ---- Message handlers (one per destination) ----
  // Not while holding the tree lock: stopping a handler waits for its thread.
  CMsgHandler* CreateMessageHandler(CtVar* dest, char terminator);
  void DeleteMessageHandler(CtVar* dest);
  CMsgHandler* GetMessageHandler(CtVar* dest);
  // Installs handler for dest, stopping a different previous one.
  void SetMessageHandler(CtVar* dest, std::unique_ptr<CMsgHandler> handler);
  // For conditions: the destination that "AppVar.<variable>" is attached to gets a line handler
  // (terminator line feed) with an entry for command; a leading "_" makes it match by prefix.
  int CreateFunctionMsgHand(const char* variable, const char* command);
  int DeleteFunctionMsgHand(const char* variable, const char* command);
  // For conditions: asks the connection behind "AppVar.<variable>" to report changes of the
  // register the variable is attached to; null when it is not attached or the link cannot.
  void* CreateVarChangeCallback(const char* variable, OzkVarChangeCallback callback, void* context);
  void DeleteVarChangeCallback(const char* variable, void* handle);
  void* CreateVarChangeTrigger(const char* variable, int arg);
  void DeleteVarChangeTrigger(const char* variable, int arg);

  // ---- Result lines ----
  // Columns are the nodes under "AppVar" marked TVAR_OPT_RESULT_VAR, and "AppVar.Result"; a
  // column whose bit (in walk order, from bit 0) is set in the mask is left out.
  static constexpr uint32_t kLineOnChange = 0x1;   // send only when the values changed
  static constexpr uint32_t kLineFrame = 0x2;      // a frame number column first
  static constexpr uint32_t kLineTimeStamp = 0x4;  // then a time stamp column
  std::string GetAppDataFormat(uint32_t flags);
  // Keeps flags and mask for the data lines and sends the header line to dest.
  int SendAppDataFormat(CtVar* dest, uint32_t flags, uint64_t mask);
  // One data line: to file when given (header first on an empty file); else to handle (a file
  // descriptor, -1 for none: the line alone, write's result returned); else, unless quiet, to
  // the result port (system destination 3) preceded by the header when it changed. 0 when
  // nothing changed and only changes are sent.
  int SendFormattedAppData(uint32_t frame, int64_t timestamp, FILE* file, int quiet,
                           int handle = -1);

  // ---- Merging and rewriting ----
  // Takes destination name of other_root's tree into this one: an own destination with the same
  // settings record is reused, else a copy is added. Its name goes to out_name; 0 on failure.
  int MergeDest(CtVar& other_root, const char* name, std::string* out_name);
  // Addresses as numbers (host order); applies to role-9 destinations only.
  int PlcSetIPAddress(uint32_t address, uint32_t net_mask, uint32_t unused, const char* node_name,
                      const char* dest_name);
  int SetControlLogixDest(CtVar* dest, const char* host, uint32_t slot);

  // ---- Removal ----
  int DeleteDest(CtVar* dest, uint32_t remote, int disconnect);
  int DisConnect(int index);
  int DisConnectAllRef(int index);
  int MoveConnToRecycle(int index);
  CConnection* FindConnInRecycle(const std::wstring& name);
  void CloseRecycles();

  // ---- Serial services (roles 2, 8, 14, 16) ----
  port::SerialPort* InitCOMPort(int index, const DEST_DEF_REC& rec);
  std::unique_ptr<port::SerialPort> OpenComPort(const std::string& name);
  void SafeCloseComPort(int index);
  void ClosePortCheck(int index);
  int ReadComPort(port::SerialPort* handle, std::span<uint8_t> buffer, uint32_t* read);
  int WriteComPort(port::SerialPort* handle, std::span<const uint8_t> data, uint32_t* written);
  int PurgeComPort(port::SerialPort* handle);
  // 0 guards writes, 1 guards reads; closing a port takes both.
  std::timed_mutex& SerialMutex(int which) { return serial_mu_[which ? 1 : 0]; }
  bool SerialSettingsChanged() const { return serial_changed_; }

  // The application client that reports the appliance type and its discrete lines; null (the
  // default) is an appliance of type 1 that reports none.
  void SetAppClient(XAppDestsClient* client) { client_ = client; }

  // Whether the server engine runs in this process (socket servers listen, clients connect).
  bool HasServerEngine() const { return server_engine_; }
  void SetServerEngine(bool in_process) { server_engine_ = in_process; }

  // A text for the peer of the 5020 server: marked when it could not go out for want of a peer,
  // then sent first to the next peer. Cleared at the start of every condition pass.
  void SetPendingText(std::string text);
  void MarkPendingText();
  // The marked text, unmarking it; false when none is marked.
  bool TakePendingText(std::string* text);

  const std::string& DefaultPortName() const { return default_port_name_; }
  CtVar* DestsNode() const { return dests_; }
  CtVar* Root() const { return root_; }

 private:
  struct Slot {
    std::unique_ptr<port::SerialPort> serial;
    CConnection* conn = nullptr;
    std::unique_ptr<CMsgHandler> handler;
    DEST_DEF_REC rec{};
  };
  enum class OnMatch { kNull, kExisting, kRewrite, kExistingRefOnce };
  struct AddRule;

  CtVar* Add(const AddRule& rule);
  void OpenDest(CtVar* dest);
  static int SlotIndex(const CtVar* dest);
  CtVar* NodeAt(int index);
  void FillSlot(CtVar* dest, int index);
  void ReleaseConn(CConnection* conn);
  bool AnyRole(std::initializer_list<uint32_t> roles);
  void ClassifyOpened(CtVar* dest, int index);
  void ReleaseSysDest(int id);
  CtVar* AttachHeldVar(const char* path, CtVar* dest);
  void RebuildLines(CtVar* var, uint32_t first, uint32_t count);
  std::unique_ptr<CMsgHandler> TakeHandler(CtVar* dest);
  CtVar* AttachedDest(const char* variable, std::string* var_name);
  CConnection* AttachedConn(const char* variable, std::string* dest_name, uint32_t* offset);

  CtVar* root_;
  CtVar* dests_;
  XAppDestsLink* link_;
  XAppDestsClient* client_ = nullptr;
  std::string default_port_name_;
  std::array<Slot, kMaxDests + 1> slots_;
  std::array<CtVar*, kNumSysDests> sys_{};
  std::timed_mutex serial_mu_[2];
  std::vector<CConnection*> recycle_;
  CConnections conns_;
  bool serial_changed_ = false;
  bool server_engine_ = false;
  std::mutex pending_mu_;
  std::string pending_text_;
  bool pending_mark_ = false;
  std::vector<CtVar*> held_vars_;  // variables the manager attached and holds a reference to
  uint32_t line_flags_ = 0;
  ResultLineLayout result_line_;
  std::string last_header_;
  std::string last_values_;
  std::string line_text_;  // SendFormattedAppData's line, kept for its capacity
};
