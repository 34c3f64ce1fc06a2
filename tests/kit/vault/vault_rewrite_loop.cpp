// Test helper: rewrites one manifest through the vault as fast as it can, until killed.
//   vault_rewrite_loop VAULT_ROOT RECORDING_ID
#include <cstdio>
#include <string>

#include "kit/vault/recording_vault.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vault_rewrite_loop VAULT_ROOT RECORDING_ID\n");
    return 2;
  }
  tolvane::RecordingVault vault(argv[1]);
  for (unsigned round = 0;; ++round) {
    // Titles of changing length, so that a half-written file would show.
    const auto updated = vault.update(argv[2], [round](tolvane::RecordingManifest& m) {
      ++m.attemptCount;
      m.title = "Round " + std::to_string(round) + std::string(round % 97 * 13, '.');
      m.lastError = (round % 2 == 0) ? std::optional<std::string>("Tolvane could not reach the service.") : std::nullopt;
    });
    if (!updated) return 1;
  }
}
