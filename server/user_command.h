#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tolvane::server {

// `tolvane-server user add|passwd|list|remove`: manages the accounts of a data folder
// from the shell. Passwords come from a prompt (typed twice, not echoed) when stdin is a
// terminal, else from the first line of stdin, so scripts can pipe one in.
class UserCommand {
 public:
  // `arguments` follow "user". Returns the exit status; messages go to `out` and `err`.
  static int run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);
};

}  // namespace tolvane::server
