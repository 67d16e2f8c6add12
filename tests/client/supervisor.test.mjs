// The supervisor against the stand-in agent (restarts, backoff, one emitter),
// and the per-application microphone view against hand-made event streams.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { EventEmitter } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { superviseAgent, MicActivity, TondrelError } from '../../client/index.js';
import { fake, rejection } from './helpers.mjs';

const mic = (running, pid, appPid = null, bundleId = null, appName = null) =>
  ({ running, pid, appPid, bundleId, appName });

// Resolves at a supervisor's close; events.once() would reject at the
// 'error' that giving up brings.
const closed = (supervisor) => new Promise((resolve) => supervisor.once('close', resolve));

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
  assert.deepEqual(await closed(supervisor), { code: 3, signal: null });
  const names = log.map(({ name }) => name);
  assert.deepEqual(names, [...Array(4).fill(['ready', 'mic', 'exit']).flat(), 'ready', 'mic', 'error', 'exit', 'close']);
  assert.equal(log.find(({ name }) => name === 'error').payload.code, 'ERR_TONDREL_RESTART_LIMIT');
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
  assert.equal((await rejection(supervisor.ready)).code, 'ERR_TONDREL_RESTART_LIMIT');
  assert.equal((await rejection(supervisor.pageUrls({ pid: 1 }))).code, 'ERR_TONDREL_NOT_RUNNING');
});

test('an agent that ran long enough before failing is started again after the shortest wait', async () => {
  const supervisor = superviseAgent(process.execPath, {
    args: [fake, JSON.stringify({ exitAfterMs: 150, exitCode: 1 })],
    restartDelayMs: 10, maxRestartDelayMs: 1000, stableAfterMs: 50, maxRestarts: 3,
  });
  const waits = [];
  supervisor.on('exit', ({ restartInMs }) => waits.push(restartInMs));
  await closed(supervisor);
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

test('a start no restart can mend rejects ready, is reported and stops the supervisor', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-supervisor-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const notExecutable = path.join(dir, 'tondrel');
  fs.writeFileSync(notExecutable, '#!/bin/sh\n', { mode: 0o644 });
  const cases = [
    ['a missing program', fileURLToPath(new URL('./no-such-agent', import.meta.url)), 'ENOENT'],
    ['a program without the execute bit', notExecutable, 'EACCES'],
    ['a folder', dir, 'EACCES'],
  ];
  for (const [name, program, cause] of cases) {
    await t.test(name, async () => {
      const supervisor = superviseAgent(program, { restartDelayMs: 5 });
      const log = record(supervisor);
      const waiting = rejection(supervisor.ready);
      await closed(supervisor);
      assert.deepEqual(log.map(({ name: event, payload }) =>
        [event, payload instanceof TondrelError ? [payload.code, payload.cause?.code] : payload]), [
        ['error', ['ERR_TONDREL_SPAWN', cause]],
        ['exit', { code: null, signal: null, restartInMs: null }],
        ['close', { code: null, signal: null }],
      ]);
      const error = await waiting;
      assert.deepEqual([error.code, error.cause?.code], ['ERR_TONDREL_SPAWN', cause]);
      assert.equal((await rejection(supervisor.ready)).cause?.code, cause, 'later callers learn why too');
      assert.deepEqual([supervisor.restarts, supervisor.stopped], [0, true]);
    });
  }
});

test('a supervisor without an error listener still settles ready for a start that cannot succeed', async () => {
  const supervisor = superviseAgent(fileURLToPath(new URL('./no-such-agent', import.meta.url)));
  assert.equal((await rejection(supervisor.ready)).cause?.code, 'ENOENT');
});

test('restarts are limited within a window; older ones no longer count', async () => {
  const options = { exitAfterMs: 10, exitCode: 2 };
  const limited = superviseAgent(process.execPath, {
    args: [fake, JSON.stringify(options)], restartDelayMs: 1, maxRestartDelayMs: 1,
    maxRestarts: 3, restartWindowMs: 60000,
  });
  const errors = [];
  limited.on('error', (error) => errors.push(error));
  const waits = [];
  limited.on('exit', ({ restartInMs }) => waits.push(restartInMs));
  await closed(limited);
  assert.deepEqual(waits, [1, 1, 1, null]);
  assert.deepEqual(errors.map((e) => [e.code, e.exitCode]), [['ERR_TONDREL_RESTART_LIMIT', 2]]);
  assert.equal((await rejection(limited.ready)).code, 'ERR_TONDREL_RESTART_LIMIT');

  // With a window shorter than an agent's life, no two restarts fall in it.
  const windowed = superviseAgent(process.execPath, {
    args: [fake, JSON.stringify({ exitAfterMs: 60, exitCode: 2 })], restartDelayMs: 1, maxRestartDelayMs: 1,
    maxRestarts: 1, restartWindowMs: 40,
  });
  let exits = 0;
  await new Promise((resolve) => windowed.on('exit', () => {
    exits += 1;
    if (exits === 4) resolve();
  }));
  assert.equal(windowed.stopped, false);
  await windowed.close();
});

test('bad supervisor settings are refused at once', () => {
  for (const settings of [{ restartDelayMs: -1 }, { maxRestartDelayMs: Infinity }, { stableAfterMs: NaN },
    { restartDelayMs: '5' }, { maxRestarts: -1 }, { maxRestarts: '3' }, { restartWindowMs: 0 }]) {
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
