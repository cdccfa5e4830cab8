// The local store's words for what it refuses or cannot do, shown to the user after the
// command's own words.
#pragma once

#include <string>

#include "access/calendar_store.h"

namespace tembra::local {

inline const std::string kNoSuchEvent = "事件不存在或已删除";
inline const std::string kNoSuchCalendar = "日历不存在或已删除";
inline const std::string kUnreadableFile = "事件文件无法解析，未作更改: ";
inline const std::string kWriteFailed = "无法写入本地日历库: ";
inline const std::string kStoreUnavailable = "找不到本地日历库（请设置 TEMBRA_STORE 或 HOME）";
inline const std::string kReadFailed = "无法读取本地日历库: ";
inline const std::string kUnreadableSettings = "本地日历库的设置文件无法读取，未作更改";
inline const std::string kUnkeptRule = "本地日历库无法保存这个重复规则";
inline const std::string kUnstorableDate = "日期超出本地日历库能保存的范围（0000 至 9999 年）";
// An event that is no longer there, since another client removed or moved it.
inline const StoreError kGone{kNoSuchEvent, true};
inline const std::string kRelativeStore = "本地日历库的位置（TEMBRA_STORE）必须是绝对路径: ";

}  // namespace tembra::local
