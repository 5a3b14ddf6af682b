#include "paramserver/Usvrsock.h"

#include "paramserver/blockpolicy.h"
#include "paramserver/settingswriter.h"
#include "platform/log.h"
#include "platform/oserror.h"
#include "platform/tick.h"

namespace tv {
namespace {

// Pause after a failed accept, so that a lasting failure (no descriptors
// left) does not spin.
constexpr int kAcceptRetryMs = 100;

}  // namespace

TParamServer::TParamServer(TParamServerHost host, uint16_t port, int timeoutMs)
    : host_(std::move(host)), port_(port), timeoutMs_(timeoutMs) {
  if (!host_.flags) host_.flags = std::make_shared<TEngineFlags>();
  WakeOnStop([this] { terminateEvent_.Set(); });
}

// The base would join only after our members are gone.
TParamServer::~TParamServer() {
  Terminate();
  WaitFor();
}

int TParamServer::Execute() {
  if (!listener_.Listen(port_, kParamServerBacklog)) {
    platform::LogError("parameter server disabled: cannot listen on port %u: %s", static_cast<unsigned>(port_),
                       platform::LastOsErrorText().c_str());
    return 1;
  }
  while (!Terminated()) {
    platform::TcpSocket client;
    if (WaitForClient(client)) Serve(std::move(client));
  }
  clientConnected_ = false;
  listener_.Close();
  ReleaseAcceptThread();
  return 0;
}

// False when no client came: stop requested or the accept failed.
bool TParamServer::WaitForClient(platform::TcpSocket& client) {
  clientConnected_ = false;
  acceptEvent_.Reset();
  invalidEvent_.Reset();
  acceptThread_ = std::make_unique<TServerAcceptThread>(listener_, acceptEvent_, invalidEvent_,
                                                        timeoutMs_);
  acceptThread_->Start();
  int signalled;
  do {
    signalled = platform::WaitForAny({&acceptEvent_, &invalidEvent_, &terminateEvent_});
  } while (signalled == platform::kWaitTimeout);
  if (signalled == 2) return false;  // the thread may still be in accept
  acceptThread_->WaitFor();
  if (signalled == 1) {
    ReleaseAcceptThread();
    terminateEvent_.Wait(kAcceptRetryMs);
    return false;
  }
  client = acceptThread_->TakeClient();
  ReleaseAcceptThread();
  return true;
}

void TParamServer::ReleaseAcceptThread() {
  if (!acceptThread_) return;
  acceptThread_->WaitFor();
  acceptThread_.reset();
}

void TParamServer::Serve(platform::TcpSocket client) {
  client_ = std::move(client);
  clientConnected_ = true;
  connectionState_ = TConnectionState::Idle;
  while (connectionState_ != TConnectionState::Closed) {
    uint8_t command = 0;
    const int budget = ReadBudgetMs();
    if (budget > 0 && client_.SetRecvTimeout(budget) && client_.RecvByte(command))
      Dispatch(command);
    else
      connectionState_ = TConnectionState::Closing;
    if (connectionState_ == TConnectionState::Closing) {
      if (clientConnected_) CloseClient();
      connectionState_ = TConnectionState::Closed;
    }
  }
}

void TParamServer::Dispatch(uint8_t command) {
  switch (command) {
    case kENQ: return OnEnq();
    case kBEL: return OnBel();
    case kDLE: return OnDle();
    case kDC1: return OnDc1();
    default: connectionState_ = TConnectionState::Closing;  // EOT and unknown bytes
  }
}

// The time a read may wait: a whole time-out outside an exchange, what is
// left of the exchange's one time-out inside it.
int TParamServer::ReadBudgetMs() const {
  if (!exchangeOpen_) return timeoutMs_;
  const uint32_t elapsed = platform::TickCount() - exchangeStart_;
  return elapsed >= static_cast<uint32_t>(timeoutMs_) ? 0 : timeoutMs_ - static_cast<int>(elapsed);
}

void TParamServer::CloseExchange() {
  if (!exchangeOpen_) return;
  exchangeOpen_ = false;
  if (host_.flags->CloseExchange() && host_.requestCycle) host_.requestCycle();
}

void TParamServer::OnEnq() {
  if (connectionState_ != TConnectionState::Idle) {
    connectionState_ = TConnectionState::Closing;
  } else if (!host_.flags->TryOpenExchange()) {
    SendAnswer(kBS);
    connectionState_ = TConnectionState::Closing;
  } else {
    exchangeOpen_ = true;
    exchangeStart_ = platform::TickCount();
    SendAnswer(kACK);
    connectionState_ = TConnectionState::Opened;
  }
}

void TParamServer::ReportLockChange(bool locked) {
  if (host_.exportsLockChanged) host_.exportsLockChanged(locked);
}

// A written block ends the exchange: nothing after it changes a setting.
void TParamServer::OnBel() {
  if (connectionState_ == TConnectionState::Opened && ReceiveBlock() && DecodeBlock() && CheckBlock() &&
      WriteSettings()) {
    connectionState_ = TConnectionState::Written;
    CloseExchange();
    SendAnswer(kACK);
  } else {
    connectionState_ = TConnectionState::Closing;
    SendAnswer(kNAK);
  }
}

void TParamServer::OnDle() {
  if (connectionState_ == TConnectionState::Idle) {
    const bool locked = host_.flags->TryLockExports();
    if (locked) ReportLockChange(true);
    SendAnswer(locked ? kACK : kBS);
  }
  connectionState_ = TConnectionState::Closing;
}

// Unlocking is always allowed: it can only let exporting resume.
void TParamServer::OnDc1() {
  if (connectionState_ == TConnectionState::Idle) {
    host_.flags->ExportsLocked = false;
    ReportLockChange(false);
    SendAnswer(kACK);
  } else {
    SendAnswer(kNAK);
  }
  connectionState_ = TConnectionState::Closing;
}

// The whole block must arrive within what is left of the exchange's one
// time-out, however the network splits it, so a trickling client cannot
// hold exporting back any longer.
bool TParamServer::ReceiveBlock() {
  size_t received = 0;
  TBlockStatus status = TBlockStatus::Incomplete;
  while (status == TBlockStatus::Incomplete && received < buffer_.size()) {
    const int budget = ReadBudgetMs();
    if (budget <= 0 || !client_.SetRecvTimeout(budget)) break;
    const long n = client_.Recv(buffer_.data() + received, buffer_.size() - received);
    if (n <= 0) break;
    status = AssessReceivedBlock(buffer_.data(), received + static_cast<size_t>(n), received == 0);
    received += static_cast<size_t>(n);
  }
  client_.SetRecvTimeout(timeoutMs_);
  if (status != TBlockStatus::Complete) return false;
  receivedBlock_.assign(buffer_.begin(), buffer_.begin() + static_cast<long>(received));
  return true;
}

bool TParamServer::DecodeBlock() {
  return tv::DecodeBlock(receivedBlock_.data(), receivedBlock_.size(), pending_);
}

bool TParamServer::CheckBlock() {
  if (!host_.registry) return false;
  std::vector<std::string> roots;
  try {
    auto reg = host_.registry->Lock();
    roots = StoredAllowedRoots(*reg);
  } catch (const platform::RegistryError& e) {
    platform::LogWarning("parameter block refused: %s", e.what());
    return false;
  }
  if (roots.empty()) roots = host_.defaultRoots;
  const std::string refusal = BlockRefusal(pending_, roots);
  if (refusal.empty()) return true;
  platform::LogWarning("parameter block refused, nothing written: %s", refusal.c_str());
  return false;
}

bool TParamServer::WriteSettings() {
  if (!host_.registry || !WriteBlockToStore(*host_.registry, pending_)) return false;
  if (!host_.reloadSettings) return false;
  try {
    return host_.reloadSettings();
  } catch (const std::exception& e) {
    platform::LogError("settings written but not reloaded: %s", e.what());
    return false;
  }
}

// A failed send changes nothing: the client sees the connection close.
void TParamServer::SendAnswer(uint8_t answer) { client_.SendAll(&answer, 1); }

void TParamServer::CloseClient() {
  CloseExchange();
  client_.Shutdown();
  client_.Close();
  clientConnected_ = false;
}

}  // namespace tv
