#include "paramserver/paramserver.h"

#include <array>

#include "paramserver/blockaudit.h"
#include "paramserver/blockpolicy.h"
#include "paramserver/settingswriter.h"
#include "platform/log.h"
#include "platform/oserror.h"
#include "platform/tick.h"

namespace tv {
namespace {

// How often a waiting ENQ looks whether its connection is being stopped.
constexpr int kExchangeWaitSliceMs = 100;

}  // namespace

// One connection's side of the protocol: its state, its exchange and the
// block it receives.  Lives on the connection's thread.
class TParamServer::Session {
 public:
  Session(TParamServer& server, platform::TcpServer::Connection& connection)
      : server_(server),
        host_(server.host_),
        connection_(connection),
        client_(connection.Socket()) {}

  void Run();
  // A command byte was understood: the connection is no quiet one.
  bool Commanded() const { return commanded_; }

 private:
  enum class TConnectionState : uint8_t { Idle, Opened, Written, Closing, Closed };

  void Dispatch(uint8_t command);
  void WaitForOtherExchange();
  void OnEnq();
  void OnBel();
  void OnDle();
  void OnDc1();
  void ReportLockChange(bool locked);

  int ReadBudgetMs() const;
  void CloseExchange();
  std::string ReceiveBlock();
  std::string CheckBlock();
  void WriteSettings();
  void SendAnswer(uint8_t answer) { client_.SendAll(&answer, 1); }  // a failed send changes nothing
  // Whole, however long: a block's line lists every table it rewrote.
  void Audit(const std::string& what) const {
    platform::Log(platform::LogLevel::Notice,
                  "remote configuration from " + connection_.Peer() + ": " + what);
  }

  TParamServer& server_;
  const TParamServerHost& host_;
  platform::TcpServer::Connection& connection_;
  platform::TcpSocket& client_;
  TConnectionState connectionState_ = TConnectionState::Idle;
  bool commanded_ = false;
  bool exchangeOpen_ = false;
  bool blockSeen_ = false;
  uint32_t exchangeStart_ = 0;  // tick of the ENQ that opened it
  std::array<uint8_t, kIoBufferSize> buffer_{};
  size_t receivedLength_ = 0;
  TParamBlock pending_;
};

void TParamServer::Session::Run() {
  while (connectionState_ != TConnectionState::Closed) {
    uint8_t command = 0;
    const int budget = ReadBudgetMs();
    if (!connection_.Stopping() && budget > 0 && client_.SetRecvTimeout(budget) &&
        client_.RecvByte(command)) {
      connection_.Heard();
      Dispatch(command);
    } else {
      connectionState_ = TConnectionState::Closing;
    }
    if (connectionState_ == TConnectionState::Closing) {
      CloseExchange();
      client_.Shutdown();
      connectionState_ = TConnectionState::Closed;
    }
  }
}

void TParamServer::Session::Dispatch(uint8_t command) {
  switch (command) {
    case kENQ: commanded_ = true; return OnEnq();
    case kBEL: commanded_ = true; return OnBel();
    case kDLE: commanded_ = true; return OnDle();
    case kDC1: commanded_ = true; return OnDc1();
    default: connectionState_ = TConnectionState::Closing;  // EOT and unknown bytes
  }
}

// The time a read may wait: a whole time-out outside an exchange, what is
// left of the exchange's one time-out inside it.
int TParamServer::Session::ReadBudgetMs() const {
  const int timeoutMs = server_.timeoutMs_;
  if (!exchangeOpen_) return timeoutMs;
  const uint32_t elapsed = platform::TickCount() - exchangeStart_;
  return elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}

void TParamServer::Session::CloseExchange() {
  if (!exchangeOpen_) return;
  exchangeOpen_ = false;
  connection_.SetEngaged(false);
  if (!blockSeen_) Audit("exchange ended without a parameter block");
  if (host_.flags->CloseExchange() && host_.requestCycle) host_.requestCycle();
}

// An ENQ behind another client's exchange waits for its end, as the
// listening backlog once queued it; that exchange ends within its one
// time-out, so the wait is bounded by the same.
void TParamServer::Session::WaitForOtherExchange() {
  const uint32_t start = platform::TickCount();
  const auto waited = [&] { return platform::TickCount() - start; };
  while (host_.flags->ExchangeOpen && !connection_.Stopping() &&
         waited() < static_cast<uint32_t>(server_.timeoutMs_))
    host_.flags->WaitForNoExchange(kExchangeWaitSliceMs);
}

void TParamServer::Session::OnEnq() {
  if (connectionState_ == TConnectionState::Idle) WaitForOtherExchange();
  if (connectionState_ != TConnectionState::Idle) {
    connectionState_ = TConnectionState::Closing;
  } else if (!host_.flags->TryOpenExchange()) {
    SendAnswer(kBS);
    Audit("exchange refused (BS): an export cycle is running, or another exchange is still open");
    connectionState_ = TConnectionState::Closing;
  } else {
    exchangeOpen_ = true;
    exchangeStart_ = platform::TickCount();
    connection_.SetEngaged(true);  // a flood of newcomers evicts others first
    SendAnswer(kACK);
    connectionState_ = TConnectionState::Opened;
  }
}

void TParamServer::Session::ReportLockChange(bool locked) {
  if (host_.exportsLockChanged) host_.exportsLockChanged(locked);
  Audit(locked ? "exports locked" : "exports unlocked");
}

// A written block ends the exchange: nothing after it changes a setting.
void TParamServer::Session::OnBel() {
  blockSeen_ = true;
  std::string refusal;
  if (connectionState_ == TConnectionState::Idle)
    refusal = "BEL without ENQ";
  else if (connectionState_ != TConnectionState::Opened)
    refusal = "a second block in one exchange";
  else
    refusal = ReceiveBlock();
  if (refusal.empty() && !tv::DecodeBlock(buffer_.data(), receivedLength_, pending_))
    refusal =
        "it cannot be decoded (cut short, a string without its ETX, or a text part over 1400 "
        "bytes)";
  if (refusal.empty()) refusal = CheckBlock();
  if (!refusal.empty()) {
    Audit("parameter block refused, nothing written: " + refusal);
    connectionState_ = TConnectionState::Closing;
    SendAnswer(kNAK);
    return;
  }
  WriteSettings();
}

void TParamServer::Session::OnDle() {
  if (connectionState_ == TConnectionState::Idle) {
    std::lock_guard<std::mutex> lock(server_.lockMutex_);
    const bool locked = host_.flags->TryLockExports();
    if (locked)
      ReportLockChange(true);
    else
      Audit("lock refused (BS): an export cycle is running");
    SendAnswer(locked ? kACK : kBS);
  }
  connectionState_ = TConnectionState::Closing;
}

// Unlocking is always allowed: it can only let exporting resume.
void TParamServer::Session::OnDc1() {
  if (connectionState_ == TConnectionState::Idle) {
    std::lock_guard<std::mutex> lock(server_.lockMutex_);
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
// hold exporting back any longer.  "" when it did, else why not.
std::string TParamServer::Session::ReceiveBlock() {
  size_t received = 0;
  TBlockStatus status = TBlockStatus::Incomplete;
  std::string why = "it is longer than " + std::to_string(kIoBufferSize) + " bytes";
  while (status == TBlockStatus::Incomplete && received < buffer_.size()) {
    const int budget = ReadBudgetMs();
    if (budget <= 0 || !client_.SetRecvTimeout(budget)) {
      why = "it did not arrive whole within the time-out";
      break;
    }
    const long n = client_.Recv(buffer_.data() + received, buffer_.size() - received);
    if (n <= 0) {
      why = n == 0 ? "the connection ended before its end"
                   : "it did not arrive whole within the time-out";
      break;
    }
    connection_.Heard();
    status = AssessReceivedBlock(buffer_.data(), received + static_cast<size_t>(n), received == 0);
    received += static_cast<size_t>(n);
  }
  client_.SetRecvTimeout(server_.timeoutMs_);
  receivedLength_ = received;
  if (status == TBlockStatus::Invalid)
    return "it does not end with EOT where its header says it ends";
  return status == TBlockStatus::Complete ? std::string() : why;
}

std::string TParamServer::Session::CheckBlock() {
  if (!host_.registry) return "no store";
  std::vector<std::string> roots;
  try {
    auto reg = host_.registry->Lock();
    roots = StoredAllowedRoots(*reg);
  } catch (const platform::RegistryError& e) {
    return std::string("AllowedRoots cannot be read: ") + e.what();
  }
  if (roots.empty()) roots = host_.defaultRoots;
  const platform::Status allowed = BlockRefusal(pending_, roots);
  return allowed.ok() ? std::string() : allowed.ToString();
}

// The audit line tells what the store holds afterwards: a failed write
// changed nothing, and a reload that failed left the new values stored.
void TParamServer::Session::WriteSettings() {
  const TBlockValues before = ReadBlockValues(*host_.registry);
  const bool written = WriteBlockToStore(*host_.registry, pending_);
  bool reloaded = false;
  if (written && host_.reloadSettings) {
    try {
      reloaded = host_.reloadSettings();
    } catch (const std::exception& e) {
      platform::LogError("settings written but not reloaded: %s", e.what());
    }
  }
  const std::string changes = DescribeChanges(before, ReadBlockValues(*host_.registry));
  if (!written)
    Audit("parameter block refused: the store could not be written; before the failure: " +
          changes);
  else if (!reloaded)
    Audit("parameter block written, but the settings were not reloaded: " + changes);
  else
    Audit("parameter block written and settings reloaded: " + changes);
  if (written && reloaded) {
    connectionState_ = TConnectionState::Written;
    CloseExchange();
    SendAnswer(kACK);
  } else {
    connectionState_ = TConnectionState::Closing;
    SendAnswer(kNAK);
  }
}

TParamServer::TParamServer(TParamServerHost host, uint16_t port, int timeoutMs)
    : host_(std::move(host)),
      port_(port),
      timeoutMs_(timeoutMs),
      server_([this](platform::TcpServer::Connection& c) { Serve(c); }) {
  if (!host_.flags) host_.flags = std::make_shared<TEngineFlags>();
  WakeOnStop([this] { terminateEvent_.Set(); });
}

// The base would join only after our members are gone.
TParamServer::~TParamServer() {
  Terminate();
  WaitFor();
}

int TParamServer::Execute() {
  if (!server_.Start(port_, host_.bindAddress, host_.admit)) {
    platform::LogError("parameter server disabled: cannot listen on port %u at %s: %s",
                       static_cast<unsigned>(port_), host_.bindAddress.c_str(),
                       platform::LastOsErrorText().c_str());
    return 1;
  }
  while (!terminateEvent_.Wait(host_.quietSummaryMs)) SummariseQuiet();
  server_.Stop();
  SummariseQuiet();
  return 0;
}

void TParamServer::Serve(platform::TcpServer::Connection& connection) {
  ++openConnections_;
  struct Leave {
    std::atomic<int>& open;
    ~Leave() { --open; }
  } leave{openConnections_};
  Session session(*this, connection);
  session.Run();
  if (!session.Commanded()) ++quiet_;
}

// Silent or garbled connections are an attacker's or a port scanner's; one
// line per period says how many, not who.
void TParamServer::SummariseQuiet() {
  const unsigned n = quiet_.exchange(0);
  if (n == 0) return;
  platform::LogNotice("remote configuration: %u %s to port %u ended without a command", n,
                      n == 1 ? "connection" : "connections", static_cast<unsigned>(port_));
}

}  // namespace tv
