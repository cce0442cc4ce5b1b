#pragma once
// Text of the instrument's program state code, as the live panel and the program window show it.

#include <QString>
#include <cstdint>

namespace monitor {

// 0 "停止  ", 1 "运行", 2 "暂停", 3 "结束"; any other code its integer text.
QString programStateText(int32_t code);

}  // namespace monitor
