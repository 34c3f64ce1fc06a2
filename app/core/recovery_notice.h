#pragma once

#include <QString>
#include <cstddef>

namespace tolvane {

// The notice shown after launch when recovery settled recordings a crash interrupted:
// one sentence for the recovered ones, one for the unreadable ones, joined by a space;
// empty when both counts are 0.
QString recoveryNoticeText(std::size_t recovered, std::size_t unreadable);

}  // namespace tolvane
