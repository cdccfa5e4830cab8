// The Node.js client of tembra: one method per command word, each starting the tembra executable
// once, reading its one JSON document and turning a failing exit status into an error of its own
// class. It has no dependencies beyond Node.js itself.
'use strict';

const { spawn } = require('node:child_process');

/** Every failure of a call: `status` is tembra's exit status, or null when it did not exit. */
class TembraError extends Error {
  constructor(message, { status = null, command = null, cause } = {}) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = new.target.name;
    this.status = status;
    this.command = command;
  }
}
/** Status 1: the store refused to save or remove an event, or tembra could not write its answer. */
class StoreError extends TembraError {}
/** Status 2: calendar access is not granted; ask the user to allow it. */
class AccessDeniedError extends TembraError {}
/** Status 3: no default calendar, or no writable calendar. */
class NoCalendarError extends TembraError {}
/** Status 4: no event has the identifier. */
class EventNotFoundError extends TembraError {}
/** Status 5: no calendar has the identifier. */
class CalendarNotFoundError extends TembraError {}
/** Status 64: the request is unusable (missing or invalid option or input, or TEMBRA_BACKEND). */
class UsageError extends TembraError {}
/** The call took longer than its timeout; tembra was killed. */
class TimeoutError extends TembraError {}
/** tembra could not be started (not found, not executable). */
class LaunchError extends TembraError {}
/** tembra's answer was not one JSON document of the expected kind, or it ended by a signal. */
class ProtocolError extends TembraError {}

const ERRORS_BY_STATUS = new Map([
  [1, StoreError],
  [2, AccessDeniedError],
  [3, NoCalendarError],
  [4, EventNotFoundError],
  [5, CalendarNotFoundError],
  [64, UsageError],
]);

const DEFAULT_TIMEOUT = 30000;

function dateText(value, name) {
  if (value instanceof Date) return value.toISOString();
  if (typeof value === 'string') return value;
  throw new TypeError(`${name} must be a Date or an ISO 8601 text`);
}

class Tembra {
  /**
   * @param {object} [options]
   * @param {string} [options.executable] the tembra executable; "tembra" on PATH by default
   * @param {string} [options.store] the local store's folder (TEMBRA_STORE)
   * @param {string} [options.backend] "local" or "eds" (TEMBRA_BACKEND)
   * @param {Record<string, string>} [options.env] the environment; process.env by default
   * @param {number} [options.timeout] milliseconds a call may take before tembra is killed
   */
  constructor({ executable = 'tembra', store, backend, env = process.env,
    timeout = DEFAULT_TIMEOUT } = {}) {
    this.executable = executable;
    this.env = { ...env };
    if (store !== undefined) this.env.TEMBRA_STORE = store;
    if (backend !== undefined) this.env.TEMBRA_BACKEND = backend;
    this.timeout = timeout;
  }

  status(options) { return this.run(['status'], options); }

  calendars(options) { return this.run(['calendars'], options); }

  defaultCalendar(options) { return this.run(['default-calendar'], options); }

  resolveCalendar(title, options) {
    return this.run(title === undefined ? ['resolve-calendar'] : ['resolve-calendar', '--title', title],
      options);
  }

  list({ from, to, calendar, occurrences } = {}, options) {
    let args;
    try {
      args = ['list', '--from', dateText(from, 'from'), '--to', dateText(to, 'to')];
    } catch (error) {
      return Promise.reject(error);
    }
    if (calendar !== undefined) args.push('--calendar', calendar);
    if (occurrences !== undefined) args.push('--occurrences', occurrences);
    return this.run(args, options);
  }

  get(id, options) { return this.run(['get', '--id', id], options); }

  // One occurrence of a repeating event, by its original start.
  getOccurrence(id, occurrence, options) {
    let args;
    try {
      args = ['get', '--id', id, '--occurrence', dateText(occurrence, 'occurrence')];
    } catch (error) {
      return Promise.reject(error);
    }
    return this.run(args, options);
  }

  // The input always goes through standard input: an argument is limited in size (128 KiB on
  // Linux), standard input is not.
  create(input, options) {
    return this.run(['create', '--input', '-'], { ...options, input: JSON.stringify(input) });
  }

  update(input, options) {
    return this.run(['update', '--input', '-'], { ...options, input: JSON.stringify(input) });
  }

  delete(id, options) { return this.run(['delete', '--id', id], options); }

  // Occurrences of a repeating event: the one that starts (originally) at `occurrence`, it and
  // those after it (span "future"), or every one (span "all").
  deleteOccurrences(id, { occurrence, span } = {}, options) {
    const args = ['delete', '--id', id];
    try {
      if (occurrence !== undefined) args.push('--occurrence', dateText(occurrence, 'occurrence'));
    } catch (error) {
      return Promise.reject(error);
    }
    if (span !== undefined) args.push('--span', span);
    return this.run(args, options);
  }

  /**
   * Runs tembra with these arguments and resolves to its document, or rejects with a TembraError.
   * @param {string[]} args
   * @param {{input?: string, timeout?: number}} [options]
   */
  run(args, { input, timeout = this.timeout } = {}) {
    const command = args[0] ?? null;
    return new Promise((resolve, reject) => {
      let settled = false;
      let timedOut = false;
      const settle = (fn, value) => {
        if (settled) return;
        settled = true;
        clearTimeout(timer);
        fn(value);
      };
      const child = spawn(this.executable, args, {
        env: this.env,
        stdio: [input === undefined ? 'ignore' : 'pipe', 'pipe', 'ignore'],
      });
      // 0 or Infinity: no time limit (Node.js would fire a longer delay than 2^31 - 1 ms at once).
      const limited = Number.isFinite(timeout) && timeout > 0;
      const timer = limited ? setTimeout(() => {
        timedOut = true;
        child.kill('SIGKILL');
      }, Math.min(timeout, 2 ** 31 - 1)) : undefined;
      const chunks = [];
      child.stdout.on('data', (chunk) => chunks.push(chunk));
      child.on('error', (error) => settle(reject, new LaunchError(
        `cannot start ${this.executable}: ${error.message}`, { command, cause: error })));
      if (input !== undefined) {
        // tembra may end before reading all of it (a refusal); what it said still counts.
        child.stdin.on('error', () => {});
        child.stdin.end(input);
      }
      child.on('close', (status, signal) => {
        if (timedOut) {
          settle(reject, new TimeoutError(`tembra ${command} took longer than ${timeout} ms`,
            { command }));
          return;
        }
        if (signal) {
          settle(reject, new ProtocolError(`tembra ${command} ended by ${signal}`, { command }));
          return;
        }
        const text = Buffer.concat(chunks).toString('utf8');
        let document;
        try {
          document = JSON.parse(text);
        } catch (error) {
          settle(reject, new ProtocolError(
            `tembra ${command} answered with status ${status} and no JSON document`,
            { status, command, cause: error }));
          return;
        }
        if (status === 0) {
          settle(resolve, document);
          return;
        }
        if (document === null || typeof document !== 'object' || typeof document.error !== 'string') {
          settle(reject, new ProtocolError(
            `tembra ${command} answered with status ${status} and no error record`,
            { status, command }));
          return;
        }
        const ErrorClass = ERRORS_BY_STATUS.get(status) ?? TembraError;
        settle(reject, new ErrorClass(document.error, { status, command }));
      });
    });
  }
}

module.exports = {
  Tembra,
  TembraError,
  StoreError,
  AccessDeniedError,
  NoCalendarError,
  EventNotFoundError,
  CalendarNotFoundError,
  UsageError,
  TimeoutError,
  LaunchError,
  ProtocolError,
};
