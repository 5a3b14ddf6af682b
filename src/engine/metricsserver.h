// The listener of MetricsAddress: /metrics for a Prometheus scraper and /
// for the read-only status page.  libmicrohttpd parses HTTP and serves on
// its own internal thread; this class owns that thread, starts it and stops
// it before the engine goes.  Nothing it serves can change anything.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

struct MHD_Daemon;

namespace tv {

// MetricsAddress: "off", or "address:port" with a dotted IPv4 address.
struct TMetricsAddress {
  bool off = false;
  std::string address = "127.0.0.1";
  uint16_t port = 9957;
};
platform::Result<TMetricsAddress> ParseMetricsAddress(const std::string& text);

class TMetricsServer {
 public:
  // Reads the facts afresh from beside the store at `storePath` per request.
  explicit TMetricsServer(std::string storePath);
  ~TMetricsServer();
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  platform::Status Start(const TMetricsAddress& where);
  void Stop();
  // The page or exposition for `path`; empty for a path it does not serve.
  std::string Render(const std::string& path, std::string& contentType) const;

 private:
  const std::string storePath_;
  MHD_Daemon* daemon_ = nullptr;
};

}  // namespace tv
