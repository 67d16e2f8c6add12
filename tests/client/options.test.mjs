// What a host would otherwise write by hand around the client: timeouts for
// requests, closing once the replies are in, the wire lines for debugging,
// and waiting for the Accessibility grant; all against the stand-in agent.
import { afterEach, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import { startAgent, superviseAgent, waitForTrust, TondrelError } from '../../client/index.js';
import { fake, rejection } from './helpers.mjs';

const started = [];
const startFake = (options = {}, clientOptions = {}) => {
  const agent = startAgent(process.execPath, { args: [fake, JSON.stringify(options)], ...clientOptions });
  started.push(agent);
  return agent;
};
afterEach(() => {
  for (const agent of started.splice(0)) agent.kill('SIGKILL');
});

test('a request without a reply in time rejects with ERR_TONDREL_TIMEOUT; its late reply is dropped', async (t) => {
  const cases = [
    ['the client default', { requestTimeoutMs: 40 }, {}, 'ERR_TONDREL_TIMEOUT'],
    ['a per-request timeout over the default', { requestTimeoutMs: 5000 }, { timeoutMs: 40 }, 'ERR_TONDREL_TIMEOUT'],
    ['no timeout for this request', { requestTimeoutMs: 40 }, { timeoutMs: null }, null],
  ];
  for (const [name, clientOptions, requestOptions, expected] of cases) {
    await t.test(name, async () => {
      // The wire log tells whether the reply had come when the request settled.
      const replies = [];
      const debug = (direction, line) => { if (direction === '<' && line.includes('"page-urls"')) replies.push(line); };
      const agent = startFake({ delayMs: 250 }, { ...clientOptions, debug });
      const errors = [];
      agent.on('error', (error) => errors.push(error));
      const outcome = await agent.pageUrls({ pid: 3 }, requestOptions).then(() => null, (error) => error);
      if (expected === null) {
        assert.equal(outcome, null);
      } else {
        assert.ok(outcome instanceof TondrelError);
        assert.equal(outcome.code, expected);
        assert.deepEqual(replies, [], 'rejected before the reply came');
        assert.equal(agent.pendingCount, 0);
      }
      // A request after it still gets its own reply; the late one is dropped quietly.
      assert.equal((await agent.pageUrls({ pid: 4 }, { timeoutMs: Infinity })).urls.length, 1);
      await agent.close();
      assert.deepEqual(errors, []);
    });
  }
});

test('bad timeouts and debug settings are refused before anything starts', async () => {
  for (const options of [{ requestTimeoutMs: -1 }, { requestTimeoutMs: '5' }, { requestTimeoutMs: NaN }]) {
    assert.throws(() => startAgent('/nonexistent/agent', options), RangeError, JSON.stringify(options));
  }
  assert.throws(() => startAgent('/nonexistent/agent', { debug: 'yes' }), TypeError);
  assert.throws(() => superviseAgent('/nonexistent/agent', { requestTimeoutMs: -5 }), RangeError);
  const agent = startFake();
  assert.equal((await rejection(agent.pageUrls({ pid: 1 }, { timeoutMs: -1 }))).constructor, RangeError);
  await agent.close();
});

test('close({ drain: true }) waits for the replies in flight, takes no new requests, then ends the agent', async () => {
  const agent = startFake({ delayMs: 120 });
  const requests = [agent.pageUrls({ pid: 1 }), agent.pageUrls({ pid: 2 })];
  const closing = agent.close({ drain: true });
  assert.equal((await rejection(agent.pageUrls({ pid: 3 }))).code, 'ERR_TONDREL_NOT_RUNNING');
  const replies = await Promise.all(requests);
  assert.deepEqual(replies.map((reply) => JSON.parse(reply.urls[0]).pid), [1, 2]);
  assert.deepEqual(await closing, { code: 0, signal: null });
});

test('close({ drain: true }) still kills an agent that never answers, once the timeout is up', async () => {
  const agent = startFake({ batch: 99 });
  const request = agent.pageUrls({ pid: 1 });
  assert.deepEqual(await agent.close({ drain: true, timeout: 150 }), { code: null, signal: 'SIGKILL' });
  assert.equal((await rejection(request)).code, 'ERR_TONDREL_EXITED');
});

test('debug logs every wire line both ways, from the option or from TONDREL_DEBUG', async (t) => {
  await t.test('a function of the host gets each line', async () => {
    const lines = [];
    const agent = startFake({}, { debug: (direction, line, pid) => lines.push([direction, JSON.parse(line), pid]) });
    await agent.ready;
    await agent.pageUrls({ pid: 5 });
    await agent.close();
    assert.deepEqual(lines.map(([direction, line]) => [direction, line.event ?? line.cmd]),
      [['<', 'ready'], ['>', 'page-urls'], ['<', 'page-urls']]);
    assert.ok(lines.every(([, , pid]) => pid === agent.pid));
  });
  // Standard error of a host process, with the switch in its environment.
  const host = `
    import { startAgent } from ${JSON.stringify(new URL('../../client/index.js', import.meta.url).href)};
    const agent = startAgent(process.execPath, { args: [${JSON.stringify(fake)}, '{}'] });
    await agent.pageUrls({ pid: 6 });
    await agent.close();`;
  const stderrOf = async (env) => {
    const child = spawn(process.execPath, ['--input-type=module', '-e', host],
      { env: { ...process.env, ...env }, stdio: ['ignore', 'ignore', 'pipe'] });
    let text = '';
    child.stderr.on('data', (chunk) => { text += chunk; });
    const code = await new Promise((resolve) => child.on('close', resolve));
    assert.equal(code, 0, text);
    return text;
  };
  for (const [value, logged] of [['1', true], ['0', false], ['', false]]) {
    await t.test(`TONDREL_DEBUG=${JSON.stringify(value)}`, async () => {
      const text = await stderrOf({ TONDREL_DEBUG: value });
      if (logged) {
        assert.match(text, /^tondrel\[\d+\] < \{"event":"ready"/m);
        assert.match(text, /^tondrel\[\d+\] > \{"cmd":"page-urls","id":1,"pid":6\}$/m);
      } else {
        assert.equal(text, '');
      }
    });
  }
});

test('waitForTrust asks again, waiting longer each time, until the agent is trusted', async () => {
  const agent = startFake({ trustedFrom: 4 });
  const asked = [];
  agent.on('unknown', () => {});
  const original = agent.pageUrls.bind(agent);
  agent.pageUrls = (query, options) => {
    asked.push(performance.now());
    return original(query, options);
  };
  await waitForTrust(agent, { initialDelayMs: 20, maxDelayMs: 50 });
  assert.equal(asked.length, 4);
  const waits = asked.slice(1).map((at, i) => at - asked[i]);
  [20, 40, 50].forEach((least, i) => assert.ok(waits[i] >= least - 2, `wait ${i}: ${waits[i]} ms, at least ${least}`));
  await agent.close();
});

test('waitForTrust stops when aborted, and when its client has ended', async () => {
  const agent = startFake({ trusted: false });
  const controller = new AbortController();
  const waiting = waitForTrust(agent, { signal: controller.signal, initialDelayMs: 10 });
  setTimeout(() => controller.abort(new Error('the user closed the dialog')), 60);
  assert.equal((await rejection(waiting)).message, 'the user closed the dialog');
  await agent.close();
  assert.equal((await rejection(waitForTrust(agent))).code, 'ERR_TONDREL_NOT_RUNNING');
  await assert.rejects(waitForTrust(agent, { maxDelayMs: 0 }), RangeError);
});

test('waitForTrust waits out a supervisor restarting its agent', async (t) => {
  // Each agent answers one request, then ends; the third start is trusted.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-trust-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const startsFile = path.join(dir, 'starts');
  const supervisor = superviseAgent(process.execPath, {
    args: [fake, JSON.stringify({ startsFile, trustedFromStart: 3, exitAfterReplies: 1 })],
    restartDelayMs: 10,
  });
  await waitForTrust(supervisor, { initialDelayMs: 5, maxDelayMs: 20 });
  assert.equal(supervisor.restarts, 2);
  await supervisor.close();
});
