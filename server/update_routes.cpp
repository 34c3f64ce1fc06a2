#include "server/update_routes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "kit/base/file_descriptor.h"
#include "server/http_helpers.h"

namespace tolvane::server {
namespace {

void notFound(httplib::Response& response) {
  response.status = 404;
  response.set_content("Not found\n", "text/plain");
}

}  // namespace

void UpdateRoutes::install(httplib::Server& server) {
  server.Get("/updates/feed.json", http::route(this, &UpdateRoutes::feed));
  // Everything after packages/ is captured, slashes and dot-dots included, so that the
  // store's name check (not the router) decides what is refused.
  server.Get("/updates/packages/(.+)", http::route(this, &UpdateRoutes::package));
}

void UpdateRoutes::feed(const httplib::Request&, httplib::Response& response) {
  const auto document = releases_.feedDocument();
  if (!document) return notFound(response);
  // Clients decide on freshness from the signed dates inside; a cache must not.
  response.set_header("Cache-Control", "no-cache");
  response.set_content(*document, "application/json");
}

void UpdateRoutes::package(const httplib::Request& request, httplib::Response& response) {
  const auto path = releases_.package(request.matches[1].str());
  if (!path) return notFound(response);
  // The file closes with the last copy of the content provider.
  const auto file = std::make_shared<FileDescriptor>(::open(path->c_str(), O_RDONLY | O_CLOEXEC));
  const auto size = file->isOpen() ? ::lseek(file->get(), 0, SEEK_END) : -1;
  if (size < 0) return notFound(response);
  response.set_header("Accept-Ranges", "bytes");
  // cpp-httplib applies the request's Range to a provider of known length and asks it
  // only for the bytes it sends, so an interrupted download resumes where it stopped.
  response.set_content_provider(std::size_t(size), "application/vnd.debian.binary-package",
                                [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                  char buffer[64 * 1024];
                                  const std::size_t want = std::min(length, sizeof buffer);
                                  const ssize_t got = ::pread(file->get(), buffer, want, off_t(offset));
                                  if (got <= 0) return false;
                                  return sink.write(buffer, std::size_t(got));
                                });
}

}  // namespace tolvane::server
