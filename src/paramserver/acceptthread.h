// The parameter server's helper thread that waits for one connection.
//
// It accepts one client on the server's listening socket, gives the new
// socket its send and receive time-outs and then signals the accept event,
// or the invalid event when accepting or setting a time-out failed.  The
// server keeps the thread until it has joined it; closing the listener wakes
// a thread still blocked in accept, so the server never goes away under it.
#pragma once

#include "platform/event.h"
#include "platform/net.h"
#include "platform/thread.h"

namespace tv {

class TServerAcceptThread : public platform::Thread {
 public:
  TServerAcceptThread(platform::TcpListener& listener, platform::Event& acceptEvent,
                      platform::Event& invalidEvent, int timeoutMs);
  ~TServerAcceptThread() override;

  // After the thread has ended: the accepted socket (invalid when the
  // invalid event was set).
  platform::TcpSocket TakeClient() { return std::move(client_); }

 protected:
  int Execute() override;

 private:
  int AcceptOne();

  platform::TcpListener& listener_;
  platform::Event& acceptEvent_;
  platform::Event& invalidEvent_;
  const int timeoutMs_;
  platform::TcpSocket client_;
};

}  // namespace tv
