#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// Annotation data (strokes, colours, tools) that cannot be read back. what() is a whole
// sentence naming what was wrong.
class AnnotationDecodingError : public std::runtime_error {
 public:
  explicit AnnotationDecodingError(const std::string& detail)
      : std::runtime_error("Tolvane couldn't read the annotations: " + detail + ".") {}
};

}  // namespace tolvane
