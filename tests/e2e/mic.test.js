'use strict';

// Microphone events from scenario timelines: which polls write events, with
// which pids and application fields.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Agent, scenarios, tempDir, waitForPolls, readTrace } = require('./agent');

// Runs a scenario until the poll after its last timeline step has started
// (so every step has been seen and one quiet poll has followed), and answers
// the mic events written.
async function micEvents(t, scenario, polls) {
  const trace = path.join(tempDir(), 'trace.jsonl');
  const agent = Agent.sim(scenario, { trace });
  t.after(() => agent.kill());
  await agent.ready();
  await waitForPolls(trace, polls);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  assert.equal(agent.stderr, '');
  return {
    events: agent.messages.filter((m) => m.event === 'mic'),
    ready: agent.messages[0],
    trace: readTrace(trace),
  };
}

const app = (pid, bundleId, appName) => ({ appPid: pid, bundleId, appName });
const none = app(null, null, null);
const mic = (running, pid, owner) => ({ event: 'mic', running, pid, ...owner });

const meeting = app(501, 'org.example.meeting', 'Meeting');
const terminal = app(300, 'org.example.terminal', 'Terminal');

function processEvents(helperOwner) {
  return [
    // Poll 2, in list order; the helper already ran at start, so no event.
    mic(true, 520, app(520, 'org.example.nameless', null)),
    mic(true, 530, terminal),
    mic(true, 540, none),
    mic(true, 608, none),
    mic(true, 607, app(601, 'org.example.far', 'Far')),
    mic(true, null, none),
    mic(true, 501, meeting),
    // Poll 3: the helper stops; object 16's pid becomes readable, no event.
    mic(false, 502, helperOwner),
    // Poll 4: the vanished object first, with its cached pid, then the
    // listed one that stopped.
    mic(false, 501, meeting),
    mic(false, 501, meeting),
  ];
}

test('per-process events carry the process and the application that owns it', async (t) => {
  const { events, ready, trace } = await micEvents(t, path.join(scenarios, 'mic-process.json'), 5);
  assert.deepEqual(ready, { event: 'ready', perProcess: true });
  assert.deepEqual(events, processEvents(meeting));
  assert.ok(trace.filter((e) => e.event === 'poll').every((e) => e.monitor === 'process'));
});

test('without the responsible-process function the helper goes to its ancestors', async (t) => {
  const scenario = JSON.parse(fs.readFileSync(path.join(scenarios, 'mic-process.json'), 'utf8'));
  scenario.responsibleFunction = false;
  const file = path.join(tempDir(), 'no-responsible.json');
  fs.writeFileSync(file, JSON.stringify(scenario));
  const { events, ready } = await micEvents(t, file, 5);
  assert.deepEqual(ready, { event: 'ready', perProcess: true });
  assert.deepEqual(events, processEvents(terminal));
});

test('the device monitor reports the default input device only, with null fields', async (t) => {
  const { events, ready, trace } = await micEvents(t, path.join(scenarios, 'mic-device.json'), 13);
  assert.deepEqual(ready, { event: 'ready', perProcess: false });
  // Polls 2, 3, 5, 8, 9 and 12 change the answer; nothing else does.
  assert.deepEqual(events, [false, true, false, true, false, true].map((r) => mic(r, null, none)));
  assert.ok(trace.filter((e) => e.event === 'poll').every((e) => e.monitor === 'device'));
});

test('a list that shrinks or grows while it is read counts as read', async (t) => {
  const { events } = await micEvents(t, path.join(scenarios, 'list-changes.json'), 7);
  assert.deepEqual(events, [
    // Poll 3: object 11 is gone by the read; the entry it leaves names no
    // object and is not running.
    mic(false, 701, none),
    // Poll 5: object 12 arrives after the size query, so only 10 is read...
    mic(false, 700, none),
    // ...and 12 is seen at poll 6.
    mic(true, 702, none),
  ]);
});

test('a list replaced for a read that never happens takes its place at the next poll', async (t) => {
  // Poll 2 finds an empty list, so it never reads it; the replacement meant
  // for that read is what poll 3 lists.
  const scenario = path.join(tempDir(), 'unread.json');
  fs.writeFileSync(scenario, JSON.stringify({
    audio: { timeline: [{ poll: 2, processesAtRead: [{ id: 5, pid: 77, input: true }] }] },
  }));
  const { events } = await micEvents(t, scenario, 4);
  assert.deepEqual(events, [mic(true, 77, none)]);
});
