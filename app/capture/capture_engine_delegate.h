#pragma once

#include <stdexcept>

namespace tolvane {

class CaptureEngine;

// Hears about failures of a running recording. Called on one of the engine's capture
// queues: the receiver moves to its own thread itself, and must not destroy the engine
// from inside the call. The engine does not stop itself; the receiver decides.
class CaptureEngineDelegate {
 public:
  virtual ~CaptureEngineDelegate() = default;
  // `error` is a CaptureError (the screen stream stopped) or the movie writer's
  // WriterError; what() is the sentence for the user.
  virtual void captureEngineDidFail(CaptureEngine& engine, const std::runtime_error& error) = 0;
};

}  // namespace tolvane
