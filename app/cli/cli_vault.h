#pragma once

#include <memory>
#include <string_view>

#include "kit/vault/recording_vault.h"

namespace tolvane::cli {

// The vault every command works on: Config::vaultDirectory() (TOLVANE_VAULT_DIR, or the
// "Tolvane" folder in the user's videos directory), created when missing. Throws a
// one-line error when the directory cannot be created.
std::unique_ptr<RecordingVault> openVault();

// The recording whose id is `idOrPrefix`, or the only one whose id starts with it
// (ignoring case), so "vault show 1f3a" works. Throws a one-line error when none or
// several match.
VaultItem findRecording(RecordingVault& vault, std::string_view idOrPrefix);

}  // namespace tolvane::cli
