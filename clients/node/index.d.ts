// The declarations of the Node.js client of tembra. The documents' types come from tembra's JSON
// Schemas (schema-types.d.ts, generated from them).
import type {
  CalendarList, ChosenCalendar, CreateInput, Deletion, EventList, EventRecord, SavedEvent,
  StatusRecord, UpdateInput,
} from './schema-types';

export * from './schema-types';

export interface TembraOptions {
  /** The tembra executable: a path, or a name looked up on PATH. Default "tembra". */
  executable?: string;
  /** The local store's folder (TEMBRA_STORE). */
  store?: string;
  /** "local" or "eds" (TEMBRA_BACKEND). */
  backend?: string;
  /** The environment tembra runs in; process.env by default. */
  env?: Record<string, string | undefined>;
  /** Milliseconds a call may take before tembra is killed; 30000 by default, 0 for no limit. */
  timeout?: number;
}

export interface CallOptions {
  /** Milliseconds this call may take before tembra is killed; 0 for no limit. */
  timeout?: number;
}

export interface ListWindow {
  from: Date | string;
  to: Date | string;
  /** Only this calendar's events. */
  calendar?: string;
  /** "all": every occurrence, changed ones included, each with "occurrence" and "recurrence". */
  occurrences?: 'all';
}

export interface OccurrenceReach {
  /** The occurrence by its original start; the series' first without it. */
  occurrence?: Date | string;
  /** How far the removal reaches: the occurrence, it and those after it, or every one. */
  span?: 'this' | 'future' | 'all';
}

export class Tembra {
  constructor(options?: TembraOptions);
  readonly executable: string;
  readonly timeout: number;
  status(options?: CallOptions): Promise<StatusRecord>;
  calendars(options?: CallOptions): Promise<CalendarList>;
  defaultCalendar(options?: CallOptions): Promise<ChosenCalendar>;
  resolveCalendar(title?: string, options?: CallOptions): Promise<ChosenCalendar>;
  list(window: ListWindow, options?: CallOptions): Promise<EventList>;
  get(id: string, options?: CallOptions): Promise<EventRecord>;
  /** One occurrence of a repeating event by its original start. */
  getOccurrence(id: string, occurrence: Date | string, options?: CallOptions): Promise<EventRecord>;
  create(input: CreateInput, options?: CallOptions): Promise<SavedEvent>;
  update(input: UpdateInput, options?: CallOptions): Promise<SavedEvent>;
  delete(id: string, options?: CallOptions): Promise<Deletion>;
  /** Occurrences of a repeating event; retried, it answers alreadyGone and removes nothing. */
  deleteOccurrences(id: string, reach: OccurrenceReach, options?: CallOptions): Promise<Deletion>;
  /** Runs tembra with these arguments; resolves to its document. */
  run(args: string[], options?: CallOptions & { input?: string }): Promise<unknown>;
}

export class TembraError extends Error {
  /** tembra's exit status, or null when it did not exit by itself. */
  readonly status: number | null;
  /** The command word of the call. */
  readonly command: string | null;
}
/** Status 1. */
export class StoreError extends TembraError { readonly status: 1; }
/** Status 2. */
export class AccessDeniedError extends TembraError { readonly status: 2; }
/** Status 3. */
export class NoCalendarError extends TembraError { readonly status: 3; }
/** Status 4. */
export class EventNotFoundError extends TembraError { readonly status: 4; }
/** Status 5. */
export class CalendarNotFoundError extends TembraError { readonly status: 5; }
/** Status 64. */
export class UsageError extends TembraError { readonly status: 64; }
export class TimeoutError extends TembraError { readonly status: null; }
export class LaunchError extends TembraError { readonly status: null; }
export class ProtocolError extends TembraError {}
