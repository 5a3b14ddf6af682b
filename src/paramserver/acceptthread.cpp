#include "paramserver/acceptthread.h"

#include "platform/log.h"

namespace tv {

TServerAcceptThread::TServerAcceptThread(platform::TcpListener& listener,
                                         platform::Event& acceptEvent,
                                         platform::Event& invalidEvent, int timeoutMs)
    : listener_(listener),
      acceptEvent_(acceptEvent),
      invalidEvent_(invalidEvent),
      timeoutMs_(timeoutMs) {}

// Members go before the base joins; join first.
TServerAcceptThread::~TServerAcceptThread() { WaitFor(); }

int TServerAcceptThread::Execute() {
  try {
    return AcceptOne();
  } catch (...) {
    platform::LogCaughtException("parameter server accept");
    client_.Close();
    invalidEvent_.Set();
    return 1;
  }
}

int TServerAcceptThread::AcceptOne() {
  client_ = listener_.Accept();
  if (!client_.Valid()) {
    invalidEvent_.Set();
    return 1;
  }
  if (!client_.SetSendTimeout(timeoutMs_) || !client_.SetRecvTimeout(timeoutMs_)) {
    client_.Close();
    invalidEvent_.Set();
    return 1;
  }
  acceptEvent_.Set();
  return 0;
}

}  // namespace tv
