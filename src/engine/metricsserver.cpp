#include "engine/metricsserver.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>
#include <ctime>

#include "config/remoteaccess.h"
#include "engine/statuslocal.h"
#include "engine/statusviews.h"
#include "text/utils.h"

namespace tv {
namespace {

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& body,
                 const std::string& contentType) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", contentType.c_str());
  MHD_add_response_header(response, "Cache-Control", "no-store");
  // The page loads nothing from elsewhere, and a browser is told to keep it so.
  MHD_add_response_header(response, "Content-Security-Policy",
                          "default-src 'none'; style-src 'unsafe-inline'");
  const MHD_Result r = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return r;
}

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t*, void**) {
  const auto* server = static_cast<const TMetricsServer*>(cls);
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
    return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "read only\n",
                 "text/plain; charset=utf-8");
  std::string type;
  const std::string body = server->Render(url, type);
  if (type.empty())
    return Reply(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain; charset=utf-8");
  return Reply(connection, MHD_HTTP_OK, body, type);
}

}  // namespace

platform::Result<TMetricsAddress> ParseMetricsAddress(const std::string& text) {
  TMetricsAddress out;
  if (text == "off") {
    out.off = true;
    return out;
  }
  if (text.empty()) return out;
  const size_t colon = text.rfind(':');
  int32_t port = 0;
  if (colon == std::string::npos || !text::StrToInt(text.substr(colon + 1), port) || port < 1 ||
      port > 65535)
    return platform::Refusal("\"" + text + "\" is not address:port with a port from 1 to 65535");
  platform::Result<config::TListenAddress> address =
      config::ParseListenAddress(text.substr(0, colon));
  if (!address.ok()) return address.status();
  if (address.value().off)
    return platform::Refusal("\"" + text + "\" is not address:port with a port from 1 to 65535");
  out.address = address.value().address;
  out.port = static_cast<uint16_t>(port);
  return out;
}

TMetricsServer::TMetricsServer(std::string storePath) : storePath_(std::move(storePath)) {}

TMetricsServer::~TMetricsServer() { Stop(); }

platform::Status TMetricsServer::Start(const TMetricsAddress& where) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(where.port);
  if (inet_pton(AF_INET, where.address.c_str(), &addr.sin_addr) != 1)
    return platform::Refusal(where.address + " is no IPv4 address");
  // One internal thread, few connections: a scraper and a browser or two.
  // Its own error log stays off: a peer that hangs up is no news for the
  // operator, and a listener that cannot open is said once below.
  daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD, where.port, nullptr, nullptr, &Answer,
                             this, MHD_OPTION_SOCK_ADDR, &addr, MHD_OPTION_CONNECTION_LIMIT, 16U,
                             MHD_OPTION_CONNECTION_TIMEOUT, 10U, MHD_OPTION_END);
  if (daemon_ == nullptr)
    return platform::Refusal("cannot listen on " + where.address + ":" +
                             std::to_string(where.port));
  return platform::Status::OK();
}

void TMetricsServer::Stop() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);  // joins its thread
  daemon_ = nullptr;
}

std::string TMetricsServer::Render(const std::string& path, std::string& contentType) const {
  contentType.clear();
  if (path != "/" && path != "/metrics") return {};
  const std::optional<TLocalStatus> status = ReadLocalStatus(storePath_);
  const TLocalStatus shown = status.value_or(TLocalStatus{});
  const std::time_t now = std::time(nullptr);
  if (path == "/metrics") {
    contentType = "text/plain; version=0.0.4; charset=utf-8";
    return RenderMetrics(shown, now);
  }
  contentType = "text/html; charset=utf-8";
  return RenderStatusPage(shown, now);
}

}  // namespace tv
