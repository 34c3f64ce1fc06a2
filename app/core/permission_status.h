#pragma once

namespace tolvane {

// How far the user lets Tolvane use a microphone or a camera, in the numbering the views
// read. On Linux nothing asks the user at run time, so `notDetermined` only stands for
// "not read yet" and `restricted` never occurs.
enum class PermissionStatus : int {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorised = 3,
};

}  // namespace tolvane
