// Compiled by `tsc -p test` (npm test): a host's use of the declarations type-checks, and misuse
// does not (each @ts-expect-error line must be an error, or tsc fails).
import {
  AccessDeniedError, Alarm, CreateInput, EventRecord, StatusRecord, Tembra, TembraError,
} from '..';

export async function host(tembra: Tembra): Promise<string[]> {
  const status: StatusRecord = await tembra.status();
  const granted: boolean = status.granted;
  const events: EventRecord[] = await tembra.list({ from: new Date(), to: '2030-01-01T00:00:00Z' });
  const first = events[0];
  const alarms: Alarm[] = first.alarms;
  const repeats: true | undefined = first.recurring;
  const input: CreateInput = { start: '2024-05-01T09:00:00Z', alarms: [{ relative: -600 }] };
  const saved = await tembra.create(input, { timeout: 5000 });
  const modified: number = saved.lastModified;
  await tembra.update({ id: saved.id, title: 'x' });
  const gone: true | undefined = (await tembra.delete(saved.id)).alreadyGone;
  try {
    await tembra.calendars();
  } catch (error) {
    if (error instanceof AccessDeniedError) {
      const code: 2 = error.status;
      return [String(code)];
    }
    if (error instanceof TembraError) return [error.message, String(error.status)];
  }
  // @ts-expect-error: create needs a start
  await tembra.create({ title: 'no start' });
  // @ts-expect-error: update needs an id
  await tembra.update({ title: 'no id' });
  // @ts-expect-error: a status is not a number
  const wrong: number = status.status;
  // @ts-expect-error: an alarm is relative or absolute, with a number or a date text
  const badAlarm: Alarm = { relative: 'soon' };
  return [String(granted), String(alarms.length), String(repeats), String(modified), String(gone),
    String(wrong), String(badAlarm)];
}
