// The EDS store's words for what it refuses or cannot do itself, shown to the user after the
// command's own words; EDS's own refusals carry its words.
#pragma once

#include <string>

#include "access/calendar_store.h"

namespace tembra::eds {

inline const std::string kNoSuchEvent = "事件不存在或已删除";
inline const std::string kNoSuchCalendar = "日历不存在或已删除";
inline const std::string kUnkeptChange = "日历服务无法保存这个更改";
// An event that is no longer there, since another client removed or moved it.
inline const StoreError kGone{kNoSuchEvent, true};
// A write the run's budget cut short: EDS may still carry it out.
inline const std::string kLate = "日历服务没有在限定时间内应答，这次更改可能稍后仍会生效";
// A read EDS failed (over D-Bus, or in the calendar's back-end), followed by its words.
inline const std::string kReadFailed = "日历服务读取失败: ";

}  // namespace tembra::eds
