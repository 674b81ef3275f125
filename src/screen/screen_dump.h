#pragma once

#include "screen/screen_model.h"

#include <string>

namespace telvora {

// The visible screen as text: Rows lines of the Columns visible codes as
// two upper-case hex digits separated by single spaces, then "cursor X Y".
std::string ScreenDump(const ScreenModel& model);

} // namespace telvora
