#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// An absolute URL, kept as the exact text it was made from: parsing validates it (with
// libcurl's URL API) but never normalises it, so a trailing slash or a path survives
// unchanged. Value type; cheap to copy; safe to share between threads.
//
//   auto site = Url::parse("https://tolvane.example");        // checked once
//   site->appendingPathComponent("library").text();          // "https://tolvane.example/library"
class Url {
 public:
  // An absolute URL with a scheme and a host; none for anything else (a bare path, an
  // empty string, text with spaces or control characters).
  static std::optional<Url> parse(std::string_view text);

  // The absolute text, exactly as given.
  const std::string& text() const { return text_; }

  // Parts as libcurl reads them; empty when the URL has none. `path()` is "/" for a URL
  // without a path, as libcurl reports it.
  std::string host() const;
  std::string path() const;
  std::string query() const;
  // The explicit port, or none when the URL names none.
  std::optional<int> port() const;

  // Appends one path component: one "/" between the existing path and `component`
  // (never two), before any query or fragment. Characters that may not stand in a path
  // are percent-encoded; "/" inside `component` is kept, so "a/b" adds two levels.
  Url appendingPathComponent(std::string_view component) const;

  // Resolves a reference (absolute, or relative such as "/files/abc" or "abc") against
  // this URL, as a browser would; none when the result is not a valid URL.
  std::optional<Url> resolving(std::string_view reference) const;

  bool operator==(const Url&) const = default;

 private:
  explicit Url(std::string text) : text_(std::move(text)) {}
  std::string part(int which) const;

  std::string text_;
};

}  // namespace tolvane
