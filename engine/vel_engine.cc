#include "engine/vel_engine.h"

#include <vector>

#include "dests/app_dests.h"
#include "engine/device_messages.h"
#include "engine/engine_rpc.h"
#include "link/device_message_ids.h"
#include "platform/clock.h"
#include "vartree/tvar.h"

namespace {

// What the appliance reports at start-up; their meaning beyond the camera count is the
// appliance's own.
constexpr int kStartupValue = 1400;
constexpr double kImageWidth = 1280, kImageHeight = 1024;

}  // namespace

CVelEngine::CVelEngine(const std::string& data_root, CNetServerNode* node,
                       const InspectionSettings& inspection)
    : model_(data_root),
      root_(std::make_unique<CtVar>()),
      rpc_(std::make_unique<CEngineRpc>(node, this)),
      node_(node) {
  rpc_->SetRootTVar(root_.get());
  CtVarLock lock;
  (*root_)["AppVar.Global.Version"] = static_cast<double>(model_.ServerVersion());
  (*root_)["AppVar.Global.Title"] = model_.Attributes().title.c_str();
  dests_ = std::make_unique<CAppDests>(root_.get());
  dests_->SetServerEngine(true);
  rpc_->SetAppDest(dests_.get());
  rpc_->SetDestSender([this](const char* dest, std::span<const uint8_t> data, uint32_t index) {
    return dests_->SendMessageW(dest, data, 0, index, nullptr);
  });
  inspection_ = std::make_unique<CGaugeService>(root_.get(), &model_.Params(), inspection);
}

// The manager's connections go before the channel that could still hand it data.
CVelEngine::~CVelEngine() {
  inspection_->Stop();
  rpc_->SetDestSender(nullptr);
  rpc_->SetAppDest(nullptr);
  dests_.reset();
}

int CVelEngine::OnNetMessage(uint32_t client_id, CLumMsg* request, CLumMsg* reply) {
  CLumMsg scratch;
  CLumMsg* out = reply ? reply : &scratch;
  if (!HandleConnectionMessage(client_id, *request, out) && !rpc_->Serve(request, out) &&
      !inspection_->HandleMessage(client_id, *request, out))
    HandleDeviceMessage(model_, *request, out);
  return 0;
}

void CVelEngine::OnClientDisconnect(uint32_t client_id) {
  RemoveHolder(client_id);
}

void CVelEngine::AddHolder(uint32_t client_id) {
  {
    std::lock_guard lock(clients_mu_);
    holders_.insert(client_id);
  }
  if (client_id == kLoopbackClientId) {
    if (loopback_deliver_) inspection_->AddClient(client_id, loopback_deliver_);
  } else if (node_) {
    // Sent without waiting for an answer; a client that stops reading holds up only its own
    // delivery thread.
    inspection_->AddClient(client_id, [node = node_, client_id](CLumMsg* message) {
      node->SendNetMessage(static_cast<int>(client_id), message, nullptr);
    });
  }
}

void CVelEngine::RemoveHolder(uint32_t client_id) {
  {
    std::lock_guard lock(clients_mu_);
    holders_.erase(client_id);
  }
  inspection_->RemoveClient(client_id);
}

bool CVelEngine::HandleConnectionMessage(uint32_t client_id, const CLumMsg& req, CLumMsg* reply) {
  switch (req.GetId()) {
    case kMsgIsServerInUse: {
      std::lock_guard lock(clients_mu_);
      const bool other = holders_.size() > (holders_.count(client_id) ? 1u : 0u);
      reply->Add(CLumVariant(other ? 1 : 0));
      return true;
    }
    case kMsgDisconnectOther: {
      std::vector<uint32_t> others;
      {
        std::lock_guard lock(clients_mu_);
        for (uint32_t id : holders_) {
          if (id != client_id) others.push_back(id);
        }
      }
      for (uint32_t id : others) {
        RemoveHolder(id);
        if (drop_client_) drop_client_(id);
      }
      reply->Add(CLumVariant(1));
      return true;
    }
    case kMsgApplianceReady:
      AddHolder(client_id);
      reply->Add(CLumVariant(1));
      return true;
    case kMsgCloseAppClient:
      OnClientDisconnect(client_id);
      return true;
    case kMsgCloseServer:
      OnClientDisconnect(client_id);
      if (on_close_) on_close_();
      return true;
    case kMsgStartupValue:
      reply->Add(CLumVariant(kStartupValue));
      return true;
    case kMsgCameraSetup:
      reply->Add(CLumVariant(kImageWidth));
      reply->Add(CLumVariant(kImageHeight));
      reply->Add(CLumVariant(static_cast<double>(model_.NumCameras())));
      return true;
    case kMsgStartupStatus:
      reply->Add(CLumVariant(1));
      reply->Add(CLumVariant("Ready"));
      return true;
    case kMsgUpdateServerTime: {
      // The simulated appliance keeps the client's clock as an offset from its own.
      const int64_t client_time = req.Get(0).GetLongLong(0);
      if (client_time > 0) clock_offset_ = client_time - static_cast<int64_t>(port::FileTimeNow());
      reply->Add(CLumVariant(1));
      return true;
    }
    default:
      return false;
  }
}
