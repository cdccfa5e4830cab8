// The documents tembra reads and writes, generated from its JSON Schemas
// (docs/schema) by scripts/generate-types.js: change the schemas, not this file.

/**
 * Alarm record: One alarm of an event, with exactly one key. An alarm record can be given back unchanged in the "alarms" of the event input object.
 * (alarm.schema.json)
 */
export type Alarm = {
  /**
   * The instant the alarm fires.
   */
  absolute: DateText;
} | {
  /**
   * Seconds from the event's start; negative before it.
   */
  relative: number;
};

/**
 * Calendar record: One calendar, as `calendars` lists it.
 * (calendar.schema.json)
 */
export type CalendarRecord = {
  /**
   * The calendar identifier; give it back as "calendarId" or --calendar.
   */
  id: string;
  title: string;
  /**
   * The title of the account that holds the calendar; empty when it has none.
   */
  source: string;
  /**
   * True when events may be added, changed and removed.
   */
  allowsContentModifications: boolean;
  /**
   * #RRGGBB in upper case, or empty when the calendar has no colour. A component beyond the displayable range (an extended-range colour) is written with more than two digits.
   */
  color: string;
};

/**
 * Calendar list: Printed by `calendars`: the writable calendars, in the store's order; [] when there is none.
 * (calendars.schema.json)
 */
export type CalendarList = Array<CalendarRecord>;

/**
 * Chosen calendar record: Printed by `default-calendar` and `resolve-calendar`: a calendar record with "matched" and "isDefault".
 * (chosen-calendar.schema.json)
 */
export type ChosenCalendar = {
  id: string;
  title: string;
  source: string;
  allowsContentModifications: boolean;
  color: string;
  /**
   * False only when a title was asked for and no writable calendar has it.
   */
  matched: boolean;
  /**
   * True when the result is the default calendar for new events because no title chose a calendar (always true for `default-calendar`).
   */
  isDefault: boolean;
};

/**
 * Input of create: The event input object for `create`, which needs "start".
 * (create-input.schema.json)
 */
export type CreateInput = EventInput & Required<Pick<EventInput, "start">>;

/**
 * Date text: An instant as tembra writes it: ISO 8601 in UTC with milliseconds and "Z", e.g. 2024-05-01T09:30:00.000Z. Years outside 0000 to 9999 carry a sign.
 * (date.schema.json)
 */
export type DateText = string;

/**
 * Deletion acknowledgement: Printed by `delete`: {"ok":true}, or {"ok":true,"alreadyGone":true} when no event had the identifier.
 * (deletion.schema.json)
 */
export type Deletion = {
  ok: true;
  alreadyGone?: true;
};

/**
 * Error record: Printed instead of a result by every run that ends with a status other than 0. When a document cannot be written as JSON, the output is exactly {"error":"json encode failed"} without a line feed, with status 1.
 * (error.schema.json)
 */
export type ErrorRecord = {
  /**
   * The message for the user, in Simplified Chinese.
   */
  error: string;
};

/**
 * Event input object: The JSON text given with --input to `create` and `update`. tembra itself is forgiving: it ignores other keys and takes a value of the wrong type (null included) for an absent one. This schema states what a host should send.
 * (event-input.schema.json)
 */
export type EventInput = {
  /**
   * `update`: the event to change. `create` ignores it.
   */
  id?: string;
  /**
   * `create` without it: "砚舟备注".
   */
  title?: string;
  /**
   * `create` without it: empty.
   */
  notes?: string;
  /**
   * `create` without it: empty.
   */
  location?: string;
  start?: string;
  /**
   * `create` without it: an hour after the start. `create` refuses an end before the start; `update` then moves the end to an hour after the start.
   */
  end?: string;
  /**
   * `create` without it: false.
   */
  allDay?: boolean;
  /**
   * A writable calendar; `create` uses the default calendar otherwise, `update` moves the event there.
   */
  calendarId?: string;
  /**
   * Replaces all alarms of the event; [] removes them.
   */
  alarms?: Array<{
    relative: number;
    absolute?: string;
  } | {
    relative?: number;
    absolute: string;
  }>;
  /**
   * An addition, for `update`: the occurrence of a repeating event to change, by its original start (its "occurrence" in a record). Without it, the series' first occurrence. `update` refuses text that is no date (status 64).
   */
  occurrence?: string;
  /**
   * An addition, for `update`: how far the change reaches: the occurrence (this, the default), it and those after it (future: the series is split where the store needs it, and the summary names the part that holds the occurrence), or every occurrence, moved ones included (all: start and end move every occurrence as far as they move the named one). `update` refuses any other value (status 64).
   */
  span?: "this" | "future" | "all";
  /**
   * An addition, for `create` and `update`: the series' rule as RRULE value text, which makes a single event a series; "" makes a series the single event of its first occurrence, without its changed occurrences. A rule the store cannot keep is refused (status 64) and nothing is saved.
   */
  recurrence?: string;
};

/**
 * Event record: One event, or one occurrence of a repeating event, as `get` prints it and `list` lists it.
 * (event.schema.json)
 */
export type EventRecord = {
  /**
   * The event identifier; every occurrence of a repeating event has its series' identifier.
   */
  id: string;
  /**
   * Empty when the event has no calendar.
   */
  calendarId: string;
  /**
   * Empty when the event has no calendar.
   */
  calendarTitle: string;
  title: string;
  notes: string;
  location: string;
  start: DateText;
  end: DateText;
  allDay: boolean;
  /**
   * In the store's order; [] when there is none.
   */
  alarms: Array<Alarm>;
  /**
   * Milliseconds since 1970-01-01T00:00:00Z of the last change; the start when the store knows none.
   */
  lastModified: number;
  /**
   * The identifier other calendar programs know the event by (its iCalendar UID); empty when there is none.
   */
  externalId: string;
  /**
   * An addition, only with `list --occurrences all` and `get --occurrence`, and only for an event that repeats: the occurrence's original start (where the rule places it), which names it to `get`, `update` and `delete`.
   */
  occurrence?: DateText;
  /**
   * An addition, with "occurrence": the series' rule as RRULE value text (FREQ=WEEKLY;COUNT=10;BYDAY=MO,WE); empty for a series that repeats only by its dates.
   */
  recurrence?: string;
  /**
   * Present, and true, only for an event that repeats.
   */
  recurring?: true;
};

/**
 * Event list: Printed by `list`: the events of the window in the store's order, one record per occurrence; [] when there is none.
 * (events.schema.json)
 */
export type EventList = Array<EventRecord>;

/**
 * Saved-event summary: Printed by `create` and `update` after the event was saved.
 * (saved-event.schema.json)
 */
export type SavedEvent = {
  /**
   * The event identifier after the save; it changes when the event moved to another calendar.
   */
  id: string;
  calendarId: string;
  calendarTitle: string;
  /**
   * Milliseconds since 1970-01-01T00:00:00Z; the time of the save when the store knows none.
   */
  lastModified: number;
};

/**
 * Status record: Printed by `status`: whether tembra may use the calendar, and why. `status` never asks the user.
 * (status.schema.json)
 */
export type StatusRecord = {
  /**
   * True exactly when full access is granted.
   */
  granted: boolean;
  /**
   * The authorization state. "authorized" is reported before macOS 14 where later systems report "fullAccess".
   */
  status: "notDetermined" | "restricted" | "denied" | "fullAccess" | "authorized" | "writeOnly" | "unknown";
};

/**
 * Input of update: The event input object for `update`, which needs "id"; only the keys given are changed.
 * (update-input.schema.json)
 */
export type UpdateInput = EventInput & Required<Pick<EventInput, "id">>;
