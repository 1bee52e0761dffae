// CVelAppClient: the client object a host obtains from OzkConnectToVelServer.
//
// It reaches the server over TCP through its network node, or in-process for the host
// "loopback" (the engine library is loaded and every message handed to it directly), learns the
// application attributes and versions, loads the matching appliance library, and offers the
// device services. The connect mode decides about the user: 0 shows failures as message boxes
// (port::ShowMessage), 1 is light (no messages, optional start-up queries skipped), any other
// value shows no messages and runs the full start-up; 3 also runs without a connect dialog.
//
// The server port is 5005; $VEL_SERVER_PORT changes it for the whole process (a second server
// on one machine, tests).
//
// There is no user-interface library here: no connect dialog, address list or application
// name is shown. The text the dialog would show is kept for the host (GetConnectStatus).
// While a network connect runs, the client withdraws the server's permission to change
// solutions and gives it back once connected (or at Close).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/vel_appliance.h"
#include "link/device_records.h"
#include "link/device_services.h"
#include "link/meas_records.h"
#include "link/process_results.h"
#include "link/server_engine.h"
#include "link/update_mutex.h"
#include "netmsg/net_node.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/message_loop.h"

class CAppDests;
class CAppDestsRemoteLink;
class CResultCsvLog;
class CtVar;
class CVelRpc;
class XTVarDests;
namespace port {
class SharedLibrary;
}

using OZK_CONNECT_MODE = int;

// The interface part of the client, as other libraries see it.
class XVelAppClient : public CNetClientNode {
 public:
  virtual CtVar* GetRootTVar() = 0;
  virtual CVelRpc* GetRpc() = 0;
  virtual XTVarDests* GetAppDest() = 0;
  virtual int GetServerVersion() = 0;
  virtual int Close(int flag) = 0;
  virtual int IsConnectionDropped() = 0;
};

class CVelAppClient : public XVelAppClient, public CDeviceServices {
 public:
  CVelAppClient();
  ~CVelAppClient() override;

  static int ServerPort();

  // The whole connect sequence; 1 when connected with the appliance loaded.
  int ConnectToVelServer(const wchar_t* host, OZK_CONNECT_MODE mode);
  // Connects and, on the server port, runs the start-up exchange. 0 or an error number.
  virtual int Open(const wchar_t* host, int port);
  virtual int Open(const char* host, int port);
  // The transport connection: 0, the network error number, or -1 for a bad host or port.
  int Connect(const char* host, int port) override;
  virtual int Connect(const wchar_t* host, int port);

  int Close(int flag) override;
  void CloseAppClient(int flag);
  int Disconnect() override;
  void OnDisconnect(int reason) override;
  void OnServerConnected();
  int IsConnected() const { return connected_; }
  int IsConnectionDropped() override;
  int IsLoopback() const { return loopback_; }
  int IsServerInUse();
  int SendServerDisconnectCommand();
  int StartVelServer();
  void UpdateClientSettingsForServer(const char* host);
  // Sets the server's clock: at connect, at most once an hour after that, and when forced.
  void UpdateServerTime(int force);
  // The wall clock (FILETIME units) UpdateServerTime reads; the system clock by default.
  void SetClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }
  int GetClientVersion() const;
  int GetServerVersion() override;
  std::string GetClientDllName() const { return attr_.library; }
  const VelAppAttributes& GetAppAttr() const { return attr_; }
  CVelRpc* GetRpc() override { return rpc_.get(); }
  CtVar* GetRootTVar() override { return root_; }
  CtVar* GetVarDispCfg() { return disp_cfg_.get(); }
  XTVarDests* GetAppDest() override { return app_dest_; }
  CVelAppliance* GetAppliance() const { return appliance_; }
  // Installs an appliance object the host made itself (a statically linked appliance), instead
  // of the library's; the client owns it from now on and deletes the previous one.
  void SetAppliance(CVelAppliance* appliance);
  int GetExpressMode() const { return express_; }
  int GetCachedGrabType() const { return grab_type_; }
  const std::wstring& GetServerOEMName() const { return oem_name_; }
  const std::wstring& GetServerOEMFolderName() const { return oem_folder_; }
  int GetMaxLogImageCount() const { return max_log_image_count_; }
  const std::wstring& GetLogHistoryPath() const { return log_history_path_; }

  // ---- Image history folders ----
  // Asks the server's history settings (kept by the client); returns whether images go to files.
  int IsLogHistoryToFile(VelLogFileAttrib* out);
  // Sends the settings; unless they suspend logging, the class folders are rebuilt.
  void SetLogHistoryToFile(const VelLogFileAttrib& attrib);
  // The pass, recycle and fail folders: the log folder itself, or its "Pass", "Recycle" and
  // "Fail" sub-folders. While images go to files the folders are made on this machine.
  void CreateHistorySubFolders();
  enum HistoryClass { kHistoryPass, kHistoryRecycle, kHistoryFail };
  const std::wstring& GetHistoryFolder(HistoryClass c) const { return history_folders_[c]; }
  void SetVBClient(int vb) { vb_client_ = vb; }
  void SetConnectDialogStatus(const std::wstring& status) override;
  const std::wstring& GetConnectStatus() const { return status_; }

  // ---- Results, measurement statistics and calibration ----
  // Every getter returns 0 and leaves its record as it was when the server's reply is empty or
  // shorter than the record (as it is for a disconnected client).
  // The name of a camera's first (next 0) or following (next 1) measurement variable, cut to
  // fit name_size bytes with its zero; 0 when there is none.
  int GetNextMeasVar(int next, int camera, char* name, size_t name_size);
  int GetMeasVarProperties(const char* name, int camera, MEASVARPROPS* props);
  // Sent without waiting for the server; returns 1.
  int SetMeasVarProperties(const char* name, int camera, const MEASVARPROPS* props);
  // With no values yet, the record's minimum is 0 and its maximum 1.0.
  int GetMeasVarStats(const char* name, int camera, OZK_MEAS_VAR_STAT_RECORD* stats);
  void ResetMeasVarStats(const char* name, int camera);
  int GetMeasurementVarAttributes(const char* name, int camera, OZK_MEAS_VAR_ATTR* attr);
  // sqrt(sum of squares / n - mean^2); 0 for a null record or no values.
  static double GetMeasStdDeviation(const OZK_MEAS_VAR_STAT_RECORD* stats);
  // The server's counters (UnPackResultVar's result); 0 for an empty reply.
  int GetResultCount(OZK_PROCESS_RESULTS* results);
  // Whether the server recycles parts; the client keeps the answer.
  int GetRecycleEnable();
  int RecycleEnabled() const { return recycle_enable_; }
  // The colour (0x00BBGGRR) of a variable's result and, unless colour_only, its value text
  // (" = 20.10 mm"); text may be null when only the colour is wanted.
  int GetVarValueStr(CtVar* var, std::string* text, int colour_only);
  // The reference server's own requests: take one image now; count from zero again. 1 when the
  // server did so.
  int SoftwareTrigger();
  int ResetResultCount();
  // Calibration: each returns reply [0]. A reply value for a buffer is copied only when it is a
  // data value; one longer than the buffer is cut to buffer size - 1 bytes and a zero. Null
  // outputs and empty buffers are skipped.
  int CalStart(const std::array<uint32_t, 5>& values, const char* text, int* out_int,
               float* out_float, std::span<char> buffer1, std::span<char> buffer2);
  int CalFindFlatZone(int camera, const std::array<uint32_t, 5>& values, int int1, int int2,
                      float level, uint32_t flags, float gain1, float gain2, int* out1, int* out2,
                      std::span<char> buffer1, std::span<char> buffer2);
  int CalSelectCalPoint(int camera, const std::array<uint32_t, 5>& values, int int1, int int2,
                        int* out1, int* out2, std::span<char> buffer1, std::span<char> buffer2);
  int CalSaveAllValues(const std::array<uint32_t, 11>& values);

  // ---- Parameter navigation, carried by the named calls of the same name ----
  int GetFirstParam(int group, int flags);
  int GetNextParam(int group, int param, int flags);
  int GetFirstParamGroup(int flags);
  int GetNextParamGroup(int group);
  int GetParentGroup(int group);
  int GetGroupProperties(int group, VelGroupProperties* out);
  int ParamSupported(int param);
  int IsArgSupported(int param, int arg, int flags);
  double ClosestArgSupported(int param, double value);
  // prev: the argument before (GetNextEnumArg); out: the argument found.
  int GetFirstEnumArg(int param, VelEnumArg* out);
  int GetNextEnumArg(int param, const VelEnumArg& prev, VelEnumArg* out);
  double GetParamByName(const char* name);
  // The name of the argument whose value is arg; empty when param has no such argument.
  std::string GetArgName(int param, int arg);
  double GetArgValue(int param, const char* arg_name);

  // ---- Registry, parameter files and identity, carried by the named calls ----
  // A value larger than the first offer is asked for again at the size the server reports (up
  // to kMaxRegistryValue); 0 when there is no such value.
  static constexpr uint32_t kMaxRegistryValue = 64 * 1024;
  int ReadRegistery(int root, const char* key, const char* value_name, uint32_t* type,
                    std::vector<uint8_t>* value);
  int WriteRegistery(int root, const char* key, const char* value_name, uint32_t type,
                     std::span<const uint8_t> value);
  int FlushRegistery(int root);
  // Device paths; the parameter values are read from or written to the device's file.
  int ReadParamFile(const char* device_path);
  int WriteParamFile(const char* device_path);
  // Empty when the call fails.
  std::string GetDeviceSerialNo();
  std::string GetDeviceName();
  int SetDeviceName(const char* name);
  void RestartDevice();
  int SetWindowGen(int x, int y, int width, int height);

  // Streams go to the in-process engine when there is one, else through the network node.
  // 0 on success.
  int SendStreamStart(int id, long total, int flag) override;
  int ResponseStreamStart(int* length) override;
  int StreamWrite(int length, unsigned char* data) override;
  int StreamRead(int length, unsigned char* buffer) override;
  int StreamEnd() override;
  // Streams the bytes 0 to 99 as stream 20629 and reads 100 bytes of answer; 1 when every step
  // succeeded.
  int SendStreamTest();

  // In-process: the engine's answer; otherwise the network node's exchange. 0 on success.
  int SendNetMessage(CLumMsg* request, CLumMsg* reply) override;
  int OnNetMessage(CLumMsg* request, CLumMsg* reply) override;

  // ---- Server messages and results ----
  // Results (36864, 36865), the server's requests and notifications; what the client does not
  // handle itself goes to the appliance object under the update mutex.
  // On a network connection a result that arrives on another thread than the one that created
  // the client is handed to that thread when it runs a port::MessageLoop (its monitor-panel
  // window, message 1050), waiting at most 5000 ms; otherwise it is processed where it arrived.
  // The client must then be destroyed on its creating thread.
  static constexpr uint32_t kWmRunResults = 1050;
  static constexpr uint32_t kHandOverTimeoutMs = 5000;
  virtual int PostRunResultsAndWait(CLumMsg* message, CLumMsg* reply);
  // Appliance object, image client, result status (VB hosts), then the host's result callback;
  // the first steps under the update mutex (waited at most 150 ms), then the processed event.
  virtual int ProcessRunResultsMessage(CLumMsg* message, CLumMsg* reply);
  // The host's result callback, called once per processed results message. Returns 1.
  int SetResultsCallback(void (*fn)(void*), void* arg);
  // Calls the result callback when one is set; whatever it throws is caught and ignored.
  void CallResultCallback();
  // The host's image client receives the image variant (0) of every processed result, under
  // the update mutex. Returns 1.
  using ImageClientFn = void (*)(void* arg, const CLumVariant& image);
  int SetImageClient(ImageClientFn fn, void* arg);
  // True when a results message was processed since the last wait, within timeout_ms.
  bool WaitResultProcessed(uint32_t timeout_ms) { return processed_.Wait(timeout_ms); }
  // Results the creating thread did not take within the hand-over time, in this process.
  static uint64_t GetResultsNotHandedOver() { return not_handed_over_; }
  // Waits in 2 ms slices, pumping this thread's message loop between them; 0 at once while
  // closing, or when the loop reports that the application is quitting. 1 when held.
  int GetUpdateMutex();
  // Releases it when this thread holds it.
  void ReleaseUpdateMutex();
  // A window message for the appliance object; 0 without one.
  virtual intptr_t OnWndMessage(uint32_t message, uintptr_t wparam, intptr_t lparam);
  int OnRcvStreamStart(int id, int length) override;
  // Waits up to timeout_ms for the server's next image (message 20646) of at most
  // buffer.size() pixels; 1 with the geometry when it was copied into buffer. One request at a
  // time: a second one replaces the first.
  int ReceiveImage(std::span<uint8_t> buffer, uint32_t timeout_ms, uint32_t* width = nullptr,
                   uint32_t* height = nullptr);

  // What the server's notifications left with the client.
  static constexpr int kStatusWords = 29;
  static constexpr int kTextSlots = 4;
  static constexpr size_t kTextSlotSize = 260;  // the terminator included
  static constexpr size_t kResultStatusSize = 104;
  std::array<uint32_t, kStatusWords> GetStatusRecord();
  std::string GetTextSlot(int index);
  std::array<int32_t, 3> GetPanelValues();
  std::vector<uint8_t> GetDeviceRecord();
  std::vector<uint8_t> GetResultStatus();
  // Device records of a type other than data, in this process.
  static uint64_t GetDeviceRecordErrors() { return device_record_errors_; }
  // The application mode the server announced last (24584).
  int GetCurrentAppMode() const { return app_mode_; }
  void SetCurrentAppMode(int mode) { app_mode_ = mode; }
  int IsClosing() const { return closing_; }
  int IsHistoryLocked() const { return history_locked_; }

  // ---- Appliance notifications ----
  // The server changed the solution (before the appliance object hears of it); a host may
  // override it to refresh what it keeps of the solution.
  virtual void OnSolutionChanged() {}
  // The current camera changed: kept and told to the appliance object.
  virtual void OnCameraChanged(int camera);
  int GetCurrentCamera() const { return camera_; }
  // The server raised an alarm; the text is kept.
  virtual void OnAlarm(const std::string& text);
  std::string GetLastAlarm();

  // ---- Mode exchanges ----
  uint32_t GetEngineMode();
  int SetEngineMode(int mode);
  int GetAppMode();
  // Also tells the appliance object (24583).
  int SetAppMode(int mode);
  // Results 36864 are dropped while the history is locked.
  int LockHistory();
  int UnLockHistory();
  // The first reply value; state gets the second when there is one, else the first.
  int GetFrameworkState(int* state);
  void SendMsgHandlerEvent(int event);

  // The express flag from the appliance library's name, else from the grab type and the number
  // of I/O lines, else from the setting.
  static int DecideExpressFlag(const std::string& library, int grab_type, uint32_t gpio_lines,
                               int setting);

 private:
  // A device text through its capacity-in/size-out stub, asked again once when it is larger.
  std::string DeviceText(int (*stub)(CVelRpc*, char*, uint32_t*));
  int ConnectInProcess();
  void DisconnectEngine();
  bool LoadApplianceLibrary(int server_version);
  int CreateAppliance();
  void RestoreChangeSolution();
  void ShowError(const std::wstring& text, int title_id);
  bool Interactive() const { return mode_ == 0; }
  bool Light() const { return mode_ == 1 || mode_ == 3; }

  OZK_CONNECT_MODE mode_ = 0;
  std::atomic<int> loopback_{0};
  std::atomic<int> connected_{0};
  int started_here_ = 0;
  std::atomic<int> closing_{0};
  int vb_client_ = 0;
  std::string host_;

  // In-process engine.
  std::unique_ptr<port::SharedLibrary> engine_lib_;
  void* engine_ = nullptr;
  OzkServerEngineOnNetMessageFn engine_on_message_ = nullptr;
  struct EngineStreamFns {
    OzkServerEngineSendStreamStartFn start = nullptr;
    OzkServerEngineResponseStreamStartFn response_start = nullptr;
    OzkServerEngineStreamWriteFn write = nullptr;
    OzkServerEngineStreamReadFn read = nullptr;
    OzkServerEngineStreamEndFn end = nullptr;
  };
  EngineStreamFns engine_stream_;
  // Calls op (engine handle, entry points) on the in-process engine; false when there is none.
  template <typename Op>
  bool WithEngine(Op op, int* result);
  std::mutex engine_mu_;

  std::unique_ptr<CVelRpc> rpc_;
  std::unique_ptr<CtVar> disp_cfg_;
  std::unique_ptr<CtVar> local_root_;
  CtVar* root_ = nullptr;
  // In process the engine's manager (adopted, the engine deletes it); over the network the
  // client's own, which reaches the server's through the link.
  XTVarDests* app_dest_ = nullptr;
  std::unique_ptr<CAppDestsRemoteLink> dests_link_;
  std::unique_ptr<CAppDests> own_dests_;

  std::unique_ptr<port::SharedLibrary> appliance_lib_;
  CVelAppliance* appliance_ = nullptr;
  CUpdateMutex update_mutex_;

  // Intake (vel_app_client_intake.cc).
  void OnStatusRecord(const CLumMsg& request);
  void OnCsvLog(const CLumMsg& request);
  void OnAppendText(const CLumMsg& request);
  void OnImage(const CLumMsg& request);
  void OnTextSlot(const CLumMsg& request);
  void OnPanelValues(const CLumMsg& request);
  void OnReleaseVar(const CLumMsg& request);
  void OnDeviceRecord(const CLumMsg& request);
  void ApplyVBResult(const CLumMsg& message);

  std::thread::id creator_;
  // The creating thread's monitor-panel window, when that thread runs a message loop.
  std::unique_ptr<port::Window> panel_window_;
  std::mutex intake_mu_;  // guards what the server's messages leave with the client
  void (*result_fn_)(void*) = nullptr;
  void* result_arg_ = nullptr;
  ImageClientFn image_fn_ = nullptr;
  void* image_arg_ = nullptr;
  port::Event processed_;
  static std::atomic<uint64_t> not_handed_over_;
  static std::atomic<uint64_t> device_record_errors_;
  std::atomic<int> history_locked_{0};
  std::atomic<int> app_mode_{0};
  std::atomic<int> camera_{0};
  std::string last_alarm_;
  std::array<uint32_t, kStatusWords> status_record_{};
  std::array<std::string, kTextSlots> text_slots_;
  std::array<int32_t, 3> panel_values_{};
  std::vector<uint8_t> device_record_;
  std::vector<uint8_t> result_status_;
  std::unique_ptr<CResultCsvLog> csv_log_;
  struct ImageRequest {
    std::span<uint8_t> buffer;
    uint32_t width = 0, height = 0;
    bool pending = false;
  };
  ImageRequest image_request_;
  port::Event image_arrived_;

  VelAppAttributes attr_;
  int startup_value_ = 0;
  int camera_count_ = 0;
  int express_ = 0;
  int grab_type_ = 0;
  // Whether the server allowed solution changes before this client withdrew the permission
  // while connecting (-1: not withdrawn); restored when connected and at Close.
  int change_solution_was_ = -1;
  std::wstring oem_name_, oem_folder_;
  uint64_t last_time_update_ = 0;
  std::function<uint64_t()> clock_ = port::FileTimeNow;
  std::string settings_section_;
  int max_log_image_count_ = 100;
  std::wstring log_history_path_ = L"C:\\QRV\\History";
  VelLogFileAttrib log_attrib_;
  std::array<std::wstring, 3> history_folders_;
  std::wstring status_;
  // Results and statistics.
  std::atomic<int> recycle_enable_{1};
};

CVelAppClient* OzkConnectToVelServer(const wchar_t* host, OZK_CONNECT_MODE mode);
void OzkDeleteAppClient(CVelAppClient* client, int flag);
