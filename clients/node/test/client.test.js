// The client against the real tembra over temporary stores: every command word, each failing
// status as its own error class, input beyond an argument's size, and timeouts.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const tembra = require('..');
const { admin, client, fakeTembra, tempFolder, tempStore } = require('./support');

test('every command word, from status to a second delete', async (t) => {
  const store = tempStore(t);
  const calendar = client(store);
  assert.deepEqual(await calendar.status(), { granted: false, status: 'notDetermined' });
  const calendars = await calendar.calendars();
  assert.deepEqual(calendars.map((each) => each.title), ['日历']);
  assert.equal((await calendar.status()).status, 'fullAccess');
  const chosen = await calendar.defaultCalendar();
  assert.equal(chosen.id, calendars[0].id);
  assert.deepEqual([chosen.matched, chosen.isDefault], [true, true]);
  assert.equal((await calendar.resolveCalendar(' 日历 ')).id, chosen.id);
  assert.equal((await calendar.resolveCalendar('nothing like it')).matched, false);

  // Far beyond what one argument may hold on Linux (128 KiB): it goes through standard input.
  const notes = '备注'.repeat(100000) + '\n"quoted" \\ and \u2028';
  const saved = await calendar.create({
    title: 'Review', notes, start: '2024-05-03T10:00:00+02:00',
    alarms: [{ relative: -900 }, { absolute: '2024-05-03T07:00:00Z' }],
  });
  assert.equal(saved.calendarId, chosen.id);
  const event = await calendar.get(saved.id);
  assert.equal(event.notes, notes);
  assert.equal(event.start, '2024-05-03T08:00:00.000Z');
  assert.deepEqual(event.alarms, [{ relative: -900 }, { absolute: '2024-05-03T07:00:00.000Z' }]);

  const listed = await calendar.list({ from: new Date('2024-05-01T00:00:00Z'),
    to: '2024-06-01T00:00:00Z', calendar: chosen.id });
  assert.deepEqual(listed.map((each) => each.id), [saved.id]);
  const updated = await calendar.update({ id: saved.id, title: 'Review, moved', notes: 'short' });
  assert.equal(updated.id, saved.id);
  assert.equal((await calendar.get(saved.id)).title, 'Review, moved');
  assert.deepEqual(await calendar.delete(saved.id), { ok: true });
  assert.deepEqual(await calendar.delete(saved.id), { ok: true, alreadyGone: true });
});

test('a repeating event: its occurrences, one changed, the future removed', async (t) => {
  const calendar = client(tempStore(t));
  const saved = await calendar.create({ title: 'Standup', start: '2024-05-06T09:00:00Z',
    recurrence: 'FREQ=DAILY;COUNT=4' });
  await calendar.update({ id: saved.id, occurrence: '2024-05-07T09:00:00Z',
    start: '2024-05-07T11:00:00Z', end: '2024-05-07T12:00:00Z' });
  const window = { from: '2024-05-01T00:00:00Z', to: '2024-06-01T00:00:00Z' };
  const every = await calendar.list({ ...window, occurrences: 'all' });
  assert.deepEqual(every.map((each) => [each.start, each.occurrence]), [
    ['2024-05-06T09:00:00.000Z', '2024-05-06T09:00:00.000Z'],
    ['2024-05-07T11:00:00.000Z', '2024-05-07T09:00:00.000Z'],
    ['2024-05-08T09:00:00.000Z', '2024-05-08T09:00:00.000Z'],
    ['2024-05-09T09:00:00.000Z', '2024-05-09T09:00:00.000Z'],
  ]);
  assert.equal((await calendar.list(window)).length, 3);
  const moved = await calendar.getOccurrence(saved.id, new Date('2024-05-07T09:00:00Z'));
  assert.equal(moved.recurrence, 'FREQ=DAILY;COUNT=4');
  const reach = { occurrence: '2024-05-08T09:00:00Z', span: 'future' };
  assert.deepEqual(await calendar.deleteOccurrences(saved.id, reach), { ok: true });
  assert.deepEqual(await calendar.deleteOccurrences(saved.id, reach),
    { ok: true, alreadyGone: true });
  assert.equal((await calendar.list({ ...window, occurrences: 'all' })).length, 2);
});

test('each failing status rejects with its own error class, status and message', async (t) => {
  const cases = [
    {
      name: 'access denied',
      setup: (store) => admin(store, 'set-answer', 'deny'),
      call: (calendar) => calendar.calendars(),
      error: tembra.AccessDeniedError, status: 2,
      message: '日历访问未授权（denied）。请在 系统设置 → 隐私与安全性 → 日历 中允许本应用访问。',
    },
    {
      name: 'no default calendar',
      setup: (store) => admin(store, 'init', '--empty'),
      call: (calendar) => calendar.defaultCalendar(),
      error: tembra.NoCalendarError, status: 3,
      message: '系统没有可用的默认日历，请先在「日历」应用中创建一个可写日历。',
    },
    {
      name: 'no such event',
      call: (calendar) => calendar.get('local/calendar/none.ics'),
      error: tembra.EventNotFoundError, status: 4,
      message: '事件不存在或已删除: local/calendar/none.ics',
    },
    {
      name: 'no such calendar',
      call: (calendar) => calendar.list({ from: '2024-05-01T00:00:00Z',
        to: '2024-05-02T00:00:00Z', calendar: 'no/such' }),
      error: tembra.CalendarNotFoundError, status: 5, message: '日历不存在或已删除: no/such',
    },
    {
      name: 'an input without a start',
      call: (calendar) => calendar.create({ title: 'no start' }),
      error: tembra.UsageError, status: 64, message: '缺少有效的 start（ISO8601）',
    },
    {
      name: 'a default calendar that refuses the event',
      setup: (store) => admin(store, 'set-default',
        admin(store, 'add-calendar', '--title', 'Holidays', '--read-only')),
      call: (calendar) => calendar.create({ start: '2024-05-01T09:00:00Z' }),
      error: tembra.StoreError, status: 1, message: /^创建事件失败: /,
    },
    {
      name: 'a back-end no installation has',
      call: (calendar) => calendar.calendars(),
      options: { backend: 'exchange' },
      error: tembra.UsageError, status: 64,
      message: '未知的日历后端（TEMBRA_BACKEND 可为 local 或 eds）: exchange',
    },
  ];
  for (const each of cases) {
    await t.test(each.name, async (t) => {
      const store = tempStore(t);
      each.setup?.(store);
      const failure = await each.call(client(store, each.options)).then(
        () => assert.fail('the call succeeded'), (error) => error);
      assert.ok(failure instanceof each.error, `${failure.name}: ${failure.message}`);
      assert.ok(failure instanceof tembra.TembraError);
      assert.equal(failure.name, each.error.name);
      assert.equal(failure.status, each.status);
      if (each.message instanceof RegExp) {
        assert.match(failure.message, each.message);
      } else {
        assert.equal(failure.message, each.message);
      }
    });
  }
});

test('a call that takes longer than its timeout kills tembra', async (t) => {
  const pidFile = path.join(tempFolder(t), 'pid');
  const executable = fakeTembra(t, `echo $$ > '${pidFile}'; exec sleep 30`);
  const calendar = new tembra.Tembra({ executable, timeout: 30000 });
  const started = Date.now();
  await assert.rejects(calendar.status({ timeout: 300 }), (error) =>
    error instanceof tembra.TimeoutError && error.status === null && error.command === 'status');
  assert.ok(Date.now() - started < 10000);
  const pid = Number(fs.readFileSync(pidFile, 'utf8'));
  assert.throws(() => process.kill(pid, 0), { code: 'ESRCH' });
});

test('create and update send their input whole through standard input', async (t) => {
  // A stand-in that answers with what it read, when given --input -.
  const calendar = new tembra.Tembra({
    executable: fakeTembra(t, '[ "$2 $3" = "--input -" ] && exec cat; exit 64') });
  const input = { id: 'a/b/c.ics', notes: 'x'.repeat(1 << 20), start: '2024-05-01T09:00:00Z' };
  assert.deepEqual(await calendar.create(input), input);
  assert.deepEqual(await calendar.update(input), input);
});

test('answers that are not one document of the expected kind', async (t) => {
  const cases = [
    { name: 'text that is not JSON', script: 'echo not json', error: tembra.ProtocolError,
      status: 0 },
    { name: 'a failing status without an error record', script: 'echo "[]"; exit 3',
      error: tembra.ProtocolError, status: 3 },
    { name: 'an end by a signal', script: 'kill -TERM $$', error: tembra.ProtocolError,
      status: null },
    { name: 'a status tembra does not have', script: 'echo \'{"error":"x"}\'; exit 7',
      error: tembra.TembraError, status: 7 },
  ];
  for (const each of cases) {
    await t.test(each.name, async (t) => {
      const calendar = new tembra.Tembra({ executable: fakeTembra(t, each.script) });
      await assert.rejects(calendar.status(), (error) =>
        error.constructor === each.error && error.status === each.status);
    });
  }
  await assert.rejects(new tembra.Tembra({ executable: '/no/such/tembra' }).status(),
    (error) => error instanceof tembra.LaunchError && error.cause.code === 'ENOENT');
});
