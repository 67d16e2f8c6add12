// The supervisor against the stand-in agent (restarts, backoff, one emitter),
// and the per-application microphone view against hand-made event streams.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { EventEmitter, once } from 'node:events';
import { fileURLToPath } from 'node:url';

import { superviseAgent, MicActivity, TondrelError } from '../../client/index.js';
import { fake, rejection } from './helpers.mjs';

const mic = (running, pid, appPid = null, bundleId = null, appName = null) =>
  ({ running, pid, appPid, bundleId, appName });

// Records every event of a supervisor, in order, with when it came.
function record(supervisor) {
  const log = [];
  const started = performance.now();
  for (const name of ['ready', 'mic', 'exit', 'error', 'close']) {
    supervisor.on(name, (payload) => log.push({ name, payload, at: performance.now() - started }));
  }
  return log;
}

test('an agent that keeps failing is started again, waiting longer each time, through one emitter', async () => {
  const options = { lines: [JSON.stringify({ event: 'mic', ...mic(true, 7, 6, 'org.example.a', 'A') })], exitAfterMs: 30, exitCode: 3 };
  const supervisor = superviseAgent(process.execPath, {
    args: [fake, JSON.stringify(options)],
    restartDelayMs: 40, maxRestartDelayMs: 120, maxRestarts: 4,
  });
  const log = record(supervisor);
  const [closed] = await once(supervisor, 'close');
  assert.deepEqual(closed, { code: 3, signal: null });
  const names = log.map(({ name }) => name);
  assert.deepEqual(names, [...Array(5).fill(['ready', 'mic', 'exit']).flat(), 'close']);
  const readies = log.filter(({ name }) => name === 'ready').map(({ payload }) => payload);
  assert.deepEqual(readies, [0, 1, 2, 3, 4].map((restarts) =>
    ({ perProcess: true, restarts, micStateUnknown: restarts > 0 })));
  const exits = log.filter(({ name }) => name === 'exit');
  assert.deepEqual(exits.map(({ payload }) => payload),
    [40, 80, 120, 120, null].map((restartInMs) => ({ code: 3, signal: null, restartInMs })));
  // Each agent started no sooner than the wait its predecessor's exit announced.
  exits.slice(0, -1).forEach((exit, i) => {
    const nextReady = log.filter(({ name }) => name === 'ready')[i + 1];
    assert.ok(nextReady.at - exit.at >= exit.payload.restartInMs - 1,
      `restart ${i + 1} after ${nextReady.at - exit.at} ms, announced ${exit.payload.restartInMs}`);
  });
  assert.equal(supervisor.restarts, 4);
  assert.equal(supervisor.client, null);
  assert.equal((await rejection(supervisor.ready)).code, 'ERR_TONDREL_NOT_RUNNING');
  assert.equal((await rejection(supervisor.pageUrls({ pid: 1 }))).code, 'ERR_TONDREL_NOT_RUNNING');
});

test('an agent that ran long enough before failing is started again after the shortest wait', async () => {
  const supervisor = superviseAgent(process.execPath, {
    args: [fake, JSON.stringify({ exitAfterMs: 150, exitCode: 1 })],
    restartDelayMs: 10, maxRestartDelayMs: 1000, stableAfterMs: 50, maxRestarts: 3,
  });
  const waits = [];
  supervisor.on('exit', ({ restartInMs }) => waits.push(restartInMs));
  await once(supervisor, 'close');
  assert.deepEqual(waits, [10, 10, 10, null]);
});

test('close() stops the restarts and ends the agent; requests go to the agent running now', async () => {
  const supervisor = superviseAgent(process.execPath, { args: [fake, '{}'] });
  const log = record(supervisor);
  assert.deepEqual(await supervisor.ready, { perProcess: true, restarts: 0, micStateUnknown: false });
  const { urls } = await supervisor.pageUrls({ pid: 9 });
  assert.equal(JSON.parse(urls[0]).pid, 9);
  const closing = supervisor.close();
  assert.equal(supervisor.close(), closing);
  assert.deepEqual(await closing, { code: 0, signal: null });
  assert.deepEqual(log.map(({ name }) => name), ['ready', 'close']);
  assert.equal((await rejection(supervisor.pageUrls({ pid: 1 }))).code, 'ERR_TONDREL_NOT_RUNNING');
});

test('a program that cannot be started is tried again, its failures reported as errors', async () => {
  const supervisor = superviseAgent(fileURLToPath(new URL('./no-such-agent', import.meta.url)), {
    restartDelayMs: 5, maxRestarts: 2,
  });
  const log = record(supervisor);
  const waiting = rejection(supervisor.ready);
  await new Promise((resolve) => supervisor.on('close', resolve)); // once() would reject at 'error'
  assert.deepEqual(log.map(({ name, payload }) => [name, payload instanceof TondrelError ? payload.code : payload]), [
    ['error', 'ERR_TONDREL_SPAWN'], ['exit', { code: null, signal: null, restartInMs: 5 }],
    ['error', 'ERR_TONDREL_SPAWN'], ['exit', { code: null, signal: null, restartInMs: 10 }],
    ['error', 'ERR_TONDREL_SPAWN'], ['exit', { code: null, signal: null, restartInMs: null }],
    ['close', { code: null, signal: null }],
  ]);
  assert.equal((await waiting).code, 'ERR_TONDREL_NOT_RUNNING');
});

test('bad supervisor settings are refused at once', () => {
  for (const settings of [{ restartDelayMs: -1 }, { maxRestartDelayMs: Infinity }, { stableAfterMs: NaN },
    { restartDelayMs: '5' }, { maxRestarts: -1 }]) {
    assert.throws(() => superviseAgent('/bin/true', settings), RangeError, JSON.stringify(settings));
  }
});

test('the per-application view, from the per-process and the device-level events', async (t) => {
  const meet = [800, 'org.example.meet', 'Meet'];
  const cases = [
    ['two processes of one application: one start, one stop after the last',
      [mic(true, 812, ...meet), mic(true, 813, ...meet), mic(false, 812, ...meet), mic(false, 813, ...meet)],
      [['start', 'app:800', [812]], ['stop', 'app:800', []]]],
    ['a stop whose process has gone is attributed to the application of its start',
      [mic(true, 812, ...meet), mic(false, 812)],
      [['start', 'app:800', [812]], ['stop', 'app:800', []]]],
    ['a process of no application is its own entry',
      [mic(true, 311), mic(true, 812, ...meet), mic(false, 311), mic(false, 812, ...meet)],
      [['start', 'process:311', [311]], ['start', 'app:800', [812]], ['stop', 'process:311', []],
        ['stop', 'app:800', []]]],
    ['the device-level monitor: the device is the one entry',
      [mic(true, null), mic(true, null), mic(false, null), mic(false, null)],
      [['start', 'device', []], ['stop', 'device', []]]],
    ['a stop without a start seen, and a start given twice, change nothing',
      [mic(false, 900, ...meet), mic(true, 812, ...meet), mic(true, 812, ...meet), mic(false, 812)],
      [['start', 'app:800', [812]], ['stop', 'app:800', []]]],
    ['a pid used again after a stop belongs to its new application',
      [mic(true, 812, ...meet), mic(false, 812), mic(true, 812, 900, 'org.example.rec', 'Rec'), mic(false, 812)],
      [['start', 'app:800', [812]], ['stop', 'app:800', []], ['start', 'app:900', [812]], ['stop', 'app:900', []]]],
  ];
  for (const [name, events, expected] of cases) {
    await t.test(name, () => {
      const source = new EventEmitter();
      const view = new MicActivity(source);
      const seen = [];
      view.on('start', (app) => seen.push(['start', app.key, app.pids]));
      view.on('stop', (app) => seen.push(['stop', app.key, app.pids]));
      for (const event of events) source.emit('mic', Object.freeze(event));
      assert.deepEqual(seen, expected);
      assert.deepEqual(view.active, []);
    });
  }
});

test('the view lists what is active, forgets it when the agent ends, and can stop following', () => {
  const source = new EventEmitter();
  const view = new MicActivity(source);
  source.emit('mic', mic(true, 812, 800, 'org.example.meet', 'Meet'));
  source.emit('mic', mic(true, 813, 800, 'org.example.meet', 'Meet'));
  const meet = { key: 'app:800', appPid: 800, bundleId: 'org.example.meet', appName: 'Meet', pids: [812, 813] };
  assert.deepEqual(view.active, [meet]);
  const resets = [];
  view.on('reset', (apps) => resets.push(apps));
  source.emit('exit', { code: 1, signal: null, restartInMs: 500 });
  assert.deepEqual(resets, [[meet]]);
  assert.deepEqual(view.active, []);
  // A stop for a process from before the end is not one the view can place.
  const stops = [];
  view.on('stop', (app) => stops.push(app));
  source.emit('mic', mic(false, 812));
  assert.deepEqual(stops, []);
  view.dispose();
  source.emit('mic', mic(true, 812, 800, 'org.example.meet', 'Meet'));
  assert.deepEqual(view.active, []);
  assert.equal(source.listenerCount('mic') + source.listenerCount('exit'), 0);
});
