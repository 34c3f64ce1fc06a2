#pragma once

namespace tolvane {

// How a CurlHTTPClient treats every request it sends.
struct HTTPSessionSettings {
  // When the machine is offline (no route to the host, no DNS) the request waits for
  // connectivity and tries again, until `resourceTimeoutSec` has passed, instead of
  // failing at once. A refused connection (the server is down) still fails at once.
  bool waitsForConnectivity = false;
  // Longest stretch without any bytes moving, for requests that set no time-out of
  // their own.
  double requestTimeoutSec = 60;
  // Longest a request may take in total, waiting for connectivity included.
  double resourceTimeoutSec = 604800;  // 7 days

  // The shared session of the service API, token refresh, sign-in and update check.
  static HTTPSessionSettings standard() { return {}; }

  // The session of the tus uploader: an upload issued offline waits for the network,
  // 120 s without progress aborts, and no single request takes more than 12 hours.
  static HTTPSessionSettings upload() {
    return {.waitsForConnectivity = true, .requestTimeoutSec = 120, .resourceTimeoutSec = 43200};
  }
};

}  // namespace tolvane
