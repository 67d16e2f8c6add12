// The client against a stand-in agent that can be told to misbehave: replies
// out of order, junk lines, death mid-request, an input end it ignores.
import { afterEach, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { inspect } from 'node:util';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { startAgent, attachAgent, TondrelError, maxLineLength, maxAbandoned } from '../../client/index.js';
import { fake, rejection } from './helpers.mjs';

const started = [];
const startFake = (options = {}) => {
  const agent = startAgent(process.execPath, { args: [fake, JSON.stringify(options)] });
  started.push(agent);
  return agent;
};
// A failed test must not leave its agent holding the runner open.
afterEach(() => {
  for (const agent of started.splice(0)) agent.kill('SIGKILL');
});

// What the fake received for a request: it echoes the command line as the one URL.
const sent = ({ urls }) => JSON.parse(urls[0]);

test('replies are matched by id when they come back in reverse order', async () => {
  const count = 1000;
  const agent = startFake({ batch: count, delayMs: 20 });
  const results = await Promise.all(Array.from({ length: count }, (_, i) =>
    agent.pageUrls(i % 2 ? { pid: i } : { bundleIds: [`org.example.app${i}`] })));
  const ids = new Set();
  results.forEach((result, i) => {
    const command = sent(result);
    assert.equal(result.trusted, true);
    assert.equal(command.cmd, 'page-urls');
    assert.ok(Number.isSafeInteger(command.id) && command.id > 0);
    ids.add(command.id);
    if (i % 2) assert.deepEqual([command.pid, command.bundleIds], [i, undefined]);
    else assert.deepEqual([command.pid, command.bundleIds], [undefined, [`org.example.app${i}`]]);
  });
  assert.equal(ids.size, count, 'every request has an id of its own');
  assert.equal(agent.pendingCount, 0);
  assert.deepEqual(await agent.close(), { code: 0, signal: null });
});

test('queries the agent would not answer are rejected and never sent', async () => {
  const agent = startFake({ echoLines: true });
  const received = [];
  agent.on('unknown', (event) => received.push(event.line));
  const cases = [
    [undefined, TypeError],
    [{}, TypeError],
    [{ pid: 1, bundleIds: ['a'] }, TypeError],
    [{ pid: '512' }, TypeError],
    [{ pid: null }, TypeError],
    [{ pid: true }, TypeError],
    [{ pid: 512n }, TypeError],
    [{ pid: 1.5 }, RangeError],
    [{ pid: NaN }, RangeError],
    [{ pid: 2 ** 31 }, RangeError],
    [{ pid: -(2 ** 31) - 1 }, RangeError],
    [{ bundleIds: 'org.example.app' }, TypeError],
    [{ bundleIds: ['a', 7] }, TypeError],
    [{ bundleIds: ['a\uD800'] }, TypeError],
    [{ bundleIds: ['\uDC00a'] }, TypeError],
  ];
  for (const [query, kind] of cases) {
    const error = await rejection(agent.pageUrls(query));
    assert.ok(error instanceof kind, `${inspect(query)}: ${error}`);
  }
  // The edges of the range and unusual but valid strings do go out.
  const valid = [{ pid: 2 ** 31 - 1 }, { pid: -(2 ** 31) }, { bundleIds: [] },
    { bundleIds: ['a\nb', 'caf\u00e9', '\uD83D\uDE00'] }];
  for (const query of valid) {
    const { id, ...command } = sent(await agent.pageUrls(query));
    assert.ok(Number.isSafeInteger(id));
    assert.deepEqual(command, { cmd: 'page-urls', ...query });
  }
  await agent.close();
  assert.equal(received.length, valid.length, 'only the valid queries reached the agent');
});

test('events arrive typed; junk is reported, never thrown', async () => {
  const mic = { event: 'mic', running: true, pid: 812, appPid: 800, bundleId: 'org.example.meet', appName: 'Meet' };
  const deviceMic = { event: 'mic', running: false, pid: null, appPid: null, bundleId: null, appName: null };
  const lines = [
    JSON.stringify({ ...mic, extra: 1 }),
    JSON.stringify(deviceMic),
    '{"event":"volume","level":3}',
    'not json',
    '[1,2]',
    '{"level":3}',
    '{"event":"mic","running":"yes","pid":null,"appPid":null,"bundleId":null,"appName":null}',
    '{"event":"mic","running":true,"pid":1.5,"appPid":null,"bundleId":null,"appName":null}',
    '{"event":"mic","running":true,"pid":null,"appPid":null,"bundleId":null}',
    '{"event":"ready","perProcess":true}',
    '{"event":"page-urls","id":99,"trusted":true,"urls":[]}',
    '{"event":"page-urls","id":"1","trusted":true,"urls":[]}',
  ];
  const withoutListener = startFake({ lines });
  await withoutListener.ready;
  assert.deepEqual(await withoutListener.close(), { code: 0, signal: null });

  const agent = startFake({ ready: false, lines });
  const seen = [];
  for (const name of ['ready', 'mic', 'unknown', 'error']) agent.on(name, (payload) => seen.push([name, payload]));
  assert.deepEqual(await agent.ready, { perProcess: false });
  assert.deepEqual(agent.readyEvent, { perProcess: false });
  await agent.close();
  const { event: _m, ...micPayload } = mic;
  const { event: _d, ...devicePayload } = deviceMic;
  assert.deepEqual(seen.map(([name, payload]) => [name, payload instanceof TondrelError ? payload.code : payload]), [
    ['ready', { perProcess: false }],
    ['mic', micPayload],
    ['mic', devicePayload],
    ['unknown', { event: 'volume', level: 3 }],
    ['error', 'ERR_TONDREL_BAD_LINE'],
    ['error', 'ERR_TONDREL_BAD_LINE'],
    ['error', 'ERR_TONDREL_BAD_LINE'],
    ['error', 'ERR_TONDREL_BAD_EVENT'],
    ['error', 'ERR_TONDREL_BAD_EVENT'],
    ['error', 'ERR_TONDREL_BAD_EVENT'],
    ['error', 'ERR_TONDREL_BAD_EVENT'],
    ['error', 'ERR_TONDREL_UNMATCHED_REPLY'],
    ['error', 'ERR_TONDREL_BAD_EVENT'],
  ]);
  assert.equal(seen[4][1].line, 'not json');
});

test('lines cut anywhere, even inside a character, are put back together', async () => {
  const agent = startFake({ trickle: true, lines: ['{"event":"unknown-\u00e9\uD83D\uDE00","x":"\u4e2d"}'] });
  const [event] = await once(agent, 'unknown');
  assert.deepEqual(event, { event: 'unknown-\u00e9\uD83D\uDE00', x: '\u4e2d' });
  assert.deepEqual(sent(await agent.pageUrls({ bundleIds: ['caf\u00e9'] })).bundleIds, ['caf\u00e9']);
  await agent.close();
});

test('a last line cut short by the end of the output is reported', async () => {
  const child = spawn(process.execPath, ['-e', 'process.stdout.write(\'{"event":"ready","perProcess":true}\\n{"event":"mi\')'], { stdio: ['pipe', 'pipe', 'inherit'] });
  const agent = attachAgent(child);
  const errors = [];
  agent.on('error', (error) => errors.push(error));
  await agent.exited;
  assert.deepEqual(errors.map((e) => [e.code, e.line]), [['ERR_TONDREL_BAD_LINE', '{"event":"mi']]);
});

test('pending requests are rejected when the agent dies, saying how', async (t) => {
  const cases = [
    ['exits mid-request', { batch: 100, dieAfter: 3, dieCode: 3 }, (agent) => agent, { code: 3, signal: null }],
    ['kills itself', { batch: 100, dieAfter: 3, dieSignal: 'SIGKILL' }, (agent) => agent, { code: null, signal: 'SIGKILL' }],
    ['is killed by the host', { batch: 1000 }, (agent) => { agent.kill(); return agent; }, { code: null, signal: 'SIGTERM' }],
  ];
  for (const [name, options, act, expected] of cases) {
    await t.test(name, async () => {
      const agent = startFake(options);
      const exits = [];
      agent.on('exit', (info) => exits.push(info));
      const requests = [1, 2, 3].map((pid) => agent.pageUrls({ pid }));
      await agent.ready;
      act(agent);
      for (const request of requests) {
        const error = await rejection(request);
        assert.equal(error.code, 'ERR_TONDREL_EXITED');
        assert.deepEqual([error.exitCode, error.signal], [expected.code, expected.signal]);
        assert.match(error.message, expected.signal ? new RegExp(`killed by ${expected.signal}`) : /exited with code 3/);
      }
      assert.deepEqual(await agent.exited, expected);
      assert.deepEqual(exits, [expected]);
      assert.equal(agent.pendingCount, 0);
      assert.equal((await rejection(agent.pageUrls({ pid: 1 }))).code, 'ERR_TONDREL_NOT_RUNNING');
    });
  }
});

test('close() with requests in flight ends the agent and rejects what it left unanswered', async () => {
  const agent = startFake({ delayMs: 300 });
  await agent.ready;
  const answered = agent.pageUrls({ pid: 1 });
  const reply = await answered; // the first one comes back before closing
  assert.equal(sent(reply).pid, 1);
  const inFlight = [2, 3, 4].map((pid) => agent.pageUrls({ pid }));
  const closing = agent.close();
  assert.equal(agent.close(), closing, 'close() is idempotent');
  assert.equal((await rejection(agent.pageUrls({ pid: 5 }))).code, 'ERR_TONDREL_NOT_RUNNING');
  assert.deepEqual(await closing, { code: 0, signal: null });
  for (const request of inFlight) assert.equal((await rejection(request)).code, 'ERR_TONDREL_EXITED');
});

test('replies written just before the agent exits still resolve their requests', async () => {
  // The exit can be reported before the last of the output has been read.
  for (let round = 0; round < 10; round++) {
    const agent = startFake({ batch: 50, exitAfterReplies: 50 });
    const results = await Promise.all(Array.from({ length: 50 }, (_, i) => agent.pageUrls({ pid: i })));
    results.forEach((result, i) => assert.equal(sent(result).pid, i));
    assert.deepEqual(await agent.exited, { code: 0, signal: null });
  }
});

test('after the exit, output still coming is read for a short while, then no longer waited for', async () => {
  // Another process can hold the agent's output after the agent is gone.
  const soon = startFake({ handOffMs: 50 });
  assert.equal(sent(await soon.pageUrls({ pid: 1 })).pid, 1);
  const late = startFake({ handOffMs: 3000 });
  const error = await rejection(late.pageUrls({ pid: 2 }));
  assert.deepEqual([error.code, error.exitCode], ['ERR_TONDREL_EXITED', 0]);
  assert.deepEqual(await late.exited, { code: 0, signal: null });
});

test('close() kills an agent that does not exit at the end of its input', async () => {
  const agent = startFake({ ignoreEof: true });
  await agent.ready;
  assert.deepEqual(await agent.close({ timeout: 200 }), { code: null, signal: 'SIGKILL' });
});

test('an agent that cannot be started rejects ready and every request', async () => {
  const agent = startAgent(fileURLToPath(new URL('./no-such-agent', import.meta.url)));
  const errors = [];
  // The error event carries the system's error as its cause, as ready's rejection does.
  agent.on('error', (error) => errors.push([error.code, error.cause?.code]));
  const request = agent.pageUrls({ pid: 1 });
  assert.equal(agent.startError, null, 'nothing has failed yet');
  assert.equal((await rejection(agent.ready)).code, 'ERR_TONDREL_SPAWN');
  assert.equal((await rejection(request)).code, 'ERR_TONDREL_SPAWN');
  assert.deepEqual(await agent.exited, { code: null, signal: null });
  assert.deepEqual(errors, [['ERR_TONDREL_SPAWN', 'ENOENT']]);
  assert.deepEqual([agent.startError.code, agent.startError.cause.code], ['ERR_TONDREL_SPAWN', 'ENOENT']);
});

test('ready rejects when the agent ends before writing it', async () => {
  const agent = startFake({ ready: null, exitCode: 4 });
  agent.child.stdin.end();
  const error = await rejection(agent.ready);
  assert.deepEqual([error.code, error.exitCode], ['ERR_TONDREL_EXITED', 4]);
});

test('an abandoned request rejects at once and its late reply is dropped quietly', async () => {
  const agent = startFake({ delayMs: 200 });
  const errors = [];
  agent.on('error', (error) => errors.push(error));
  const controller = new AbortController();
  const abandoned = agent.pageUrls({ pid: 1 }, { signal: controller.signal });
  const kept = agent.pageUrls({ pid: 2 });
  controller.abort(new Error('host gave up'));
  assert.equal((await rejection(abandoned)).message, 'host gave up');
  assert.equal(sent(await kept).pid, 2);
  assert.equal((await rejection(agent.pageUrls({ pid: 3 }, { signal: controller.signal }))).message, 'host gave up');
  await agent.close();
  assert.deepEqual(errors, []);
});

test('pending requests are rejected when the output closes while the process lives on', async () => {
  const agent = startFake({ closeOutputAfter: 2 });
  const first = agent.pageUrls({ pid: 1 });
  const second = agent.pageUrls({ pid: 2 });
  assert.equal(sent(await first).pid, 1);
  assert.equal((await rejection(second)).code, 'ERR_TONDREL_OUTPUT_CLOSED');
  assert.equal((await rejection(agent.pageUrls({ pid: 3 }))).code, 'ERR_TONDREL_NOT_RUNNING');
  // The agent still ends at the end of its input.
  assert.deepEqual(await agent.close(), { code: 0, signal: null });
});

test('a child spawned by the host can be wrapped; one without pipes cannot', async () => {
  const child = spawn(process.execPath, [fake, '{}'], { stdio: ['pipe', 'pipe', 'inherit'] });
  const agent = attachAgent(child);
  assert.deepEqual(await agent.ready, { perProcess: true });
  assert.equal(agent.pid, child.pid);
  assert.equal(sent(await agent.pageUrls({ pid: 7 })).pid, 7);
  await agent.close();
  const noPipes = spawn(process.execPath, ['-e', ''], { stdio: 'ignore' });
  assert.throws(() => attachAgent(noPipes), TypeError);
  await once(noPipes, 'exit');
});

test('a line over the length cap is reported and dropped; the lines around it still arrive', async () => {
  // The cap the README states. Without one, a line past what a string can
  // hold threw out of the data handler and ended the host.
  assert.equal(maxLineLength, 64 * 1024 * 1024);
  const mic = (pid) => JSON.stringify({ event: 'mic', running: true, pid, appPid: null, bundleId: null, appName: null });
  const agent = startFake({
    lines: [mic(1), { padTo: maxLineLength + 1 }, mic(2), { padTo: maxLineLength }, mic(3)],
  });
  const seen = [];
  agent.on('mic', (event) => seen.push(['mic', event.pid]));
  agent.on('error', (error) => seen.push(['error', error.code, error.line]));
  agent.on('unknown', (event) => seen.push(['unknown', event.event, event.x.length]));
  await agent.ready;
  // Writing 128 MiB through a pipe takes a loaded machine a while; the test
  // is about the lines, not about how long they take.
  assert.deepEqual(await agent.close({ timeout: 120000 }), { code: 0, signal: null });
  const frame = '{"event":"padded","x":""}'.length;
  assert.deepEqual(seen, [
    ['mic', 1],
    ['error', 'ERR_TONDREL_LINE_TOO_LONG', undefined],
    ['mic', 2],
    ['unknown', 'padded', maxLineLength - frame],
    ['mic', 3],
  ]);
});

test('an over-long line at the end of the output is reported once', async () => {
  const script = `const fs = require('fs');
    fs.writeSync(1, '{"event":"ready","perProcess":true}\\n');
    const chunk = Buffer.alloc(1 << 20, 0x78);
    for (let i = 0; i <= ${maxLineLength} / chunk.length; i++) fs.writeSync(1, chunk);`;
  const agent = attachAgent(spawn(process.execPath, ['-e', script], { stdio: ['pipe', 'pipe', 'inherit'] }));
  const errors = [];
  agent.on('error', (error) => errors.push(error.code));
  assert.deepEqual(await agent.ready, { perProcess: true });
  assert.deepEqual(await agent.exited, { code: 0, signal: null });
  assert.deepEqual(errors, ['ERR_TONDREL_LINE_TOO_LONG']);
});

test('only the most recent abandoned requests are remembered', async () => {
  // An agent that never answers must not make the client hold every id it
  // gave up on. Here the agent answers them all at the end: the replies of
  // those still remembered are dropped quietly, the older ones are reported.
  const forgotten = 300;
  const count = maxAbandoned + forgotten;
  const agent = startFake({ batch: count + 1 });
  const errors = [];
  agent.on('error', (error) => errors.push(error));
  const controller = new AbortController();
  const abandoned = Array.from({ length: count }, (_, i) =>
    rejection(agent.pageUrls({ pid: i }, { signal: controller.signal })));
  controller.abort(new Error('host gave up'));
  for (const error of await Promise.all(abandoned)) assert.equal(error.message, 'host gave up');
  assert.equal(agent.pendingCount, 0);
  const kept = await agent.pageUrls({ pid: -1 }); // completes the batch: all are answered
  assert.equal(sent(kept).pid, -1);
  await agent.close();
  assert.ok(errors.every((error) => error.code === 'ERR_TONDREL_UNMATCHED_REPLY'));
  const reported = errors.map((error) => JSON.parse(error.line).id).sort((a, b) => a - b);
  assert.deepEqual(reported, Array.from({ length: forgotten }, (_, i) => i + 1),
    'the oldest ids are the ones forgotten');
});

test('a start the system refuses outright is a failed start, never an exception', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-client-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  // An Electron archive is a file, so a program inside it cannot be run.
  fs.writeFileSync(path.join(dir, 'app.asar'), 'archive');
  fs.symlinkSync('loop-b', path.join(dir, 'loop-a'));
  fs.symlinkSync('loop-a', path.join(dir, 'loop-b'));
  const cases = [
    ['inside an archive', path.join(dir, 'app.asar', 'tondrel'), 'ENOTDIR', true],
    ['a symbolic link loop', path.join(dir, 'loop-a'), 'ELOOP', false],
    ['missing, below an archive name', path.join(dir, 'gone.asar', 'tondrel'), 'ENOENT', true],
  ];
  for (const [name, program, code, hint] of cases) {
    await t.test(name, async () => {
      const agent = startAgent(program);
      const errors = [];
      agent.on('error', (error) => errors.push(error));
      const request = agent.pageUrls({ pid: 1 });
      const error = await rejection(agent.ready);
      assert.ok(error instanceof TondrelError);
      assert.deepEqual([error.code, error.cause?.code], ['ERR_TONDREL_SPAWN', code]);
      assert.equal(/app\.asar\.unpacked/.test(error.message), hint, error.message);
      assert.equal((await rejection(request)).code, 'ERR_TONDREL_SPAWN');
      assert.deepEqual(await agent.close(), { code: null, signal: null });
      assert.deepEqual(errors.map((e) => e.code), ['ERR_TONDREL_SPAWN']);
      assert.equal(agent.pid, undefined);
      assert.equal(agent.kill(), false);
    });
  }
});
