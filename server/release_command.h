#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tolvane::server {

// `tolvane-server release keygen|publish`: the update feed's key pair, and adding a
// desktop package to the feed this server serves at /updates/feed.json.
//   keygen --out DIR        writes DIR/update-signing.key (0600) and .key.pub; never
//                           overwrites an existing key
//   publish PACKAGE --notes FILE --key KEYFILE [--data DIR] [--minimum-os TEXT]
//           [--version V]   the version defaults to the .deb's own (dpkg-deb)
class ReleaseCommand {
 public:
  // `arguments` follow "release". Returns the exit status; messages go to `out` and `err`.
  static int run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);
};

}  // namespace tolvane::server
