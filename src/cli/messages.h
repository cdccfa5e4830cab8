// Every message the program shows its user, word for word. Prefixes that end in ": " are
// followed directly by an identifier or by the store's own description.
#pragma once

#include <string_view>

namespace tembra::messages {

// Front end.
inline constexpr std::string_view kUsage =
    "用法: tembra <status|calendars|default-calendar|resolve-calendar|list|create|update|delete> "
    "[参数]";
inline constexpr std::string_view kUnknownCommand = "未知命令: ";

// Access: the status text stands between the two pieces.
inline constexpr std::string_view kAccessDeniedBefore = "日历访问未授权（";
inline constexpr std::string_view kAccessDeniedAfter =
    "）。请在 系统设置 → 隐私与安全性 → 日历 中允许本应用访问。";

// The store a run serves (TEMBRA_BACKEND); the value follows.
inline constexpr std::string_view kUnknownBackend =
    "未知的日历后端（TEMBRA_BACKEND 可为 local 或 eds）: ";
inline constexpr std::string_view kBackendNotInstalled = "这个日历后端没有安装（TEMBRA_BACKEND）: ";

// Calendar commands.
inline constexpr std::string_view kNoDefaultCalendar =
    "系统没有可用的默认日历，请先在「日历」应用中创建一个可写日历。";
inline constexpr std::string_view kNoCalendarToResolve =
    "没有可写入的日历，请先在「日历」应用中创建一个可写日历。";

// Listing and lookup.
inline constexpr std::string_view kListNeedsWindow = "list 需要 --from 和 --to（ISO8601）";
inline constexpr std::string_view kListOrder = "--to 必须晚于 --from";
inline constexpr std::string_view kCalendarNotFound = "日历不存在或已删除: ";
inline constexpr std::string_view kGetNeedsId = "get 需要 --id";
inline constexpr std::string_view kEventNotFound = "事件不存在或已删除: ";

// Creation, update and deletion.
inline constexpr std::string_view kCreateNeedsInput = "create 需要 --input <JSON>";
inline constexpr std::string_view kCreateNeedsStart = "缺少有效的 start（ISO8601）";
inline constexpr std::string_view kCreateEndBeforeStart = "end 不能早于 start";
inline constexpr std::string_view kCreateNoCalendar = "没有可写入的日历";
inline constexpr std::string_view kCreateFailed = "创建事件失败: ";
inline constexpr std::string_view kUpdateNeedsInput = "update 需要 --input <JSON>，且包含 id";
inline constexpr std::string_view kUpdateFailed = "更新事件失败: ";
inline constexpr std::string_view kDeleteNeedsId = "delete 需要 --id";
inline constexpr std::string_view kDeleteFailed = "删除事件失败: ";
// A store that could not answer a read, followed by its own words.
inline constexpr std::string_view kReadFailed = "读取日历失败: ";

// Repeating events: occurrences, spans and rules (additions beyond the commands' own options).
inline constexpr std::string_view kOccurrencesOption = "--occurrences 只能是 all";
inline constexpr std::string_view kOccurrenceNeedsDate = "--occurrence 需要 ISO8601 日期";
inline constexpr std::string_view kSpanOption = "--span 只能是 this、future 或 all";
inline constexpr std::string_view kInputOccurrenceNeedsDate = "occurrence 需要 ISO8601 日期";
inline constexpr std::string_view kInputSpan = "span 只能是 this、future 或 all";
inline constexpr std::string_view kRecurrenceProblem = "recurrence 不是可用的重复规则: ";

}  // namespace tembra::messages
