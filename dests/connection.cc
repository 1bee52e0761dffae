#include "dests/connection.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

OZK_IMPLEMENT_RUNTIME_CLASS(CConnection, COzkObject)

namespace {
std::atomic<uint64_t> g_send_lock_timeouts{0};

// A peer that never stops sending must not keep the line reader's caller forever.
constexpr size_t kMaxBytesPulledPerRead = 64 * 1024;
}  // namespace

CConnection::CConnection() = default;
CConnection::~CConnection() = default;

int CConnection::SendMessageW(CtVar*, std::span<const uint8_t>, uint32_t, CtVar*) {
  return 0;
}
int CConnection::RecvMessage(CtVar*, std::span<uint8_t>, uint32_t, uint32_t, CtVar*) {
  return 0;
}
std::wstring CConnection::GetDestDescription(CtVar*, uint32_t) {
  return std::wstring();
}
int CConnection::GetDest(CtVar*, DEST_DEF_REC*) {
  return 0;
}
int CConnection::Open(CtVar*, int, DEST_DEF_REC*, CAppDests*) {
  return 0;
}
int CConnection::Cancel() {
  return 1;
}
uint32_t CConnection::GetRegisterType(CtVar*) {
  return 0;
}
void* CConnection::CreateVarChangeCallback(const char*, const char*, uint32_t, OzkVarChangeCallback,
                                           void*) {
  return nullptr;
}
void CConnection::DeleteVarChangeCallback(const char*, void*) {}
void* CConnection::CreateVarChangeTrigger(const char*, uint32_t, int) {
  return nullptr;
}
void CConnection::DeleteVarChangeTrigger(const char*, uint32_t, int) {}
int CConnection::AttachVar(CtVar*) {
  return 1;
}
int CConnection::IsConnected(CtVar*) {
  return 1;
}
int CConnection::QueuedMessageNotice(CtVar*, int) {
  return 1;
}

int CConnection::ReadRegisters(CtVar* dest, uint32_t start, std::span<double> values, CtVar* var) {
  char text[200] = {};
  // The last byte stays zero so the text is always terminated for the parser.
  RecvMessage(dest, std::span<uint8_t>(reinterpret_cast<uint8_t*>(text), sizeof(text) - 1),
              static_cast<uint32_t>(values.size()), start, var);
  const char* p = text;
  size_t i = 0;
  for (; i < values.size() && *p; ++i) {
    values[i] = std::atof(p);
    p = std::strchr(p, ',');
    if (!p) {
      ++i;
      break;
    }
    ++p;
  }
  for (; i < values.size(); ++i) values[i] = 0;
  return 1;
}

int CConnection::WriteRegisters(CtVar* dest, uint32_t start, std::span<const double> values,
                                CtVar* var) {
  constexpr size_t kMaxText = 240;
  std::string text;
  char item[400];
  for (double v : values) {
    const int n = std::snprintf(item, sizeof(item), "%f,", v);
    if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxText) break;
    text.append(item, static_cast<size_t>(n));
  }
  if (!text.empty()) text.pop_back();
  return SendMessageW(
      dest,
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1),
      start, var);
}

size_t CConnection::RingCount() const {
  return (ring_write_ + kLineRingSize - ring_read_) % kLineRingSize;
}

std::string CConnection::RecvQueuedMessage(CtVar* dest, int maximum, char terminator) {
  if (terminator == 0 || maximum <= 0) return std::string();

  int last = 0;
  for (size_t pulled = 0; pulled < kMaxBytesPulledPerRead; ++pulled) {
    uint8_t byte = 0;
    last = RecvMessage(dest, std::span<uint8_t>(&byte, 1), kRecvBufferedFlag | 1, 0, nullptr);
    if (last < 1) break;
    ring_[ring_write_] = byte;
    ring_write_ = (ring_write_ + 1) % kLineRingSize;
    if (ring_write_ == ring_read_) ring_read_ = (ring_read_ + 1) % kLineRingSize;
  }

  std::string line;
  const size_t available = RingCount();
  const size_t limit = std::min(available, static_cast<size_t>(maximum));
  bool found = false;
  size_t used = 0;
  while (used < limit) {
    const char c = static_cast<char>(ring_[(ring_read_ + used) % kLineRingSize]);
    ++used;
    if (c == terminator) {
      found = true;
      break;
    }
    line.push_back(c);
  }
  if (found) {
    if (terminator == '\r' && used < available &&
        ring_[(ring_read_ + used) % kLineRingSize] == '\n') {
      ++used;
    }
    ring_read_ = (ring_read_ + used) % kLineRingSize;
  } else {
    line.clear();
  }
  if (last < 0) ring_read_ = ring_write_;
  return line;
}

int CConnection::LockSend(int lock) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> guard(send_mu_);
  if (!lock) {
    if (send_depth_ > 0 && send_owner_ == self && --send_depth_ == 0) {
      send_owner_ = std::thread::id();
      send_cv_.notify_one();
    }
    return 1;
  }
  if (send_depth_ > 0 && send_owner_ == self) {
    ++send_depth_;
    return 1;
  }
  if (!send_cv_.wait_for(guard, std::chrono::milliseconds(kSendLockTimeoutMs),
                         [this] { return send_depth_ == 0; })) {
    g_send_lock_timeouts.fetch_add(1);
    return 0;
  }
  send_owner_ = self;
  send_depth_ = 1;
  return 1;
}

uint64_t CConnection::SendLockTimeouts() {
  return g_send_lock_timeouts.load();
}

uint32_t CConnection::AddRef() {
  return ref_count_.fetch_add(1) + 1;
}

uint32_t CConnection::Release() {
  const uint32_t left = ref_count_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}
