#pragma once

#include <functional>

namespace tolvane {

// Watches whether the machine can reach the service. The upload queue uses it to skip
// passes while offline and to start one as soon as the network is back.
class NetworkMonitor {
 public:
  // Told the current state once the monitor has read it, and again after every change
  // of the routing table, on the monitor's own thread. `satisfied` is true while the
  // network is usable.
  using Handler = std::function<void(bool satisfied)>;

  virtual ~NetworkMonitor() = default;

  // Starts watching; call once.
  virtual void start(Handler handler) = 0;
  // Stops watching; no handler call starts after this returns.
  virtual void cancel() = 0;
};

}  // namespace tolvane
