// The client driving the real agent: the built tondrel (an empty simulated
// Mac off macOS) and tondrel-sim on the scenarios beside this file.
import { afterEach, test } from 'node:test';
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { fileURLToPath } from 'node:url';

import { startAgent, superviseAgent, MicActivity } from '../../client/index.js';

const agentPath = process.env.TONDREL;
const simPath = process.env.TONDREL_SIM;
assert.ok(agentPath, 'TONDREL must name the built agent');
const scenario = (name) => fileURLToPath(new URL(`./scenarios/${name}.json`, import.meta.url));

const started = [];
const start = (path, args = []) => {
  const agent = startAgent(path, { args });
  started.push(agent);
  return agent;
};
const startSim = (name, speed = 4) => start(simPath, ['--speed', String(speed), scenario(name)]);
afterEach(() => {
  for (const agent of started.splice(0)) agent.kill('SIGKILL');
});

const settled = (promises) => Promise.allSettled(promises);

// What pages.json holds, per query.
const pages = {
  browser: ['https://example.org/a', 'https://example.org/b?x=1'],
  late: ['https://example.com/late'],
  twins: ['https://example.net/800', 'https://example.net/801'],
};
const queries = [
  [{ pid: 710 }, []], // switches on, walks four times, waits four times: the slow one
  [{ pid: 600 }, pages.browser],
  [{ pid: 700 }, pages.late], // found on the third walk, after two waits
  [{ bundleIds: ['org.example.twin', 'org.example.browser'] }, [...pages.twins, ...pages.browser]],
  [{ bundleIds: ['org.example.none'] }, []],
  [{ pid: 4242 }, []], // no such process: two walks, one wait
];

test('the built agent: ready, untrusted answers to many requests, exit 0 at close', async () => {
  const agent = start(agentPath);
  const order = [];
  agent.on('ready', () => order.push('ready'));
  // Written before ready arrives; answered after it.
  const requests = Array.from({ length: 500 }, (_, i) =>
    agent.pageUrls(i % 2 ? { pid: i } : { bundleIds: ['org.example.browser'] }).then((r) => {
      order.push('reply');
      return r;
    }));
  const ready = await agent.ready;
  assert.equal(typeof ready.perProcess, 'boolean');
  for (const result of await Promise.all(requests)) assert.deepEqual(result, { trusted: false, urls: [] });
  assert.equal(order[0], 'ready');
  assert.equal(order.length, 501);
  assert.deepEqual(await agent.close(), { code: 0, signal: null });
});

test('scenarios', { skip: !simPath && 'tondrel-sim is not built' }, async (t) => {
  await t.test('slow replies are matched to their requests', async () => {
    const agent = startSim('pages');
    const rounds = [...queries, ...queries, ...queries];
    const results = await Promise.all(rounds.map(([query]) => agent.pageUrls(query)));
    results.forEach((result, i) => assert.deepEqual(result, { trusted: true, urls: rounds[i][1] }, `request ${i}`));
    assert.deepEqual(await agent.close(), { code: 0, signal: null });
  });

  await t.test('thousands of requests in flight each get their own answer', async () => {
    const agent = startSim('pages');
    // Only queries answered without a wait, so this stays quick.
    const fast = queries.filter(([query]) => ![700, 710, 4242].includes(query.pid));
    const rounds = Array.from({ length: 2000 }, (_, i) => fast[i % fast.length]);
    const results = await Promise.all(rounds.map(([query]) => agent.pageUrls(query)));
    results.forEach((result, i) => assert.deepEqual(result.urls, rounds[i][1], `request ${i}`));
    assert.equal(agent.pendingCount, 0);
    await agent.close();
  });

  await t.test('mic events and ready carry the types and values of the protocol', async () => {
    const cases = [
      ['pages', true, { pid: 502, appPid: 501, bundleId: 'org.example.meeting', appName: 'Meeting' }, true],
      ['untrusted', false, { pid: null, appPid: null, bundleId: null, appName: null }, false],
    ];
    for (const [name, perProcess, owner, trusted] of cases) {
      const agent = startSim(name, 10);
      assert.deepEqual(await agent.ready, { perProcess });
      const [started] = await once(agent, 'mic');
      assert.deepEqual(started, { running: true, ...owner }, name);
      assert.ok(Object.isFrozen(started));
      assert.deepEqual(await agent.pageUrls({ pid: 600 }),
        { trusted, urls: trusted ? pages.browser : [] }, name);
      if (perProcess) {
        const [stopped] = await once(agent, 'mic');
        assert.deepEqual(stopped, { running: false, ...owner });
      }
      await agent.close();
    }
  });

  await t.test('killing the agent rejects every pending request', async () => {
    // At full speed each slow request takes over a second, so the kill
    // lands while the first of them is still being read.
    const agent = startSim('pages', 1);
    const first = agent.pageUrls({ pid: 600 });
    const slow = [1, 2, 3, 4].map(() => agent.pageUrls({ pid: 710 }));
    assert.deepEqual((await first).urls, pages.browser);
    assert.equal(agent.kill('SIGKILL'), true);
    const outcomes = await settled(slow);
    assert.ok(outcomes.every((o) => o.status === 'rejected'), 'none of the slow requests was answered');
    for (const { reason } of outcomes) {
      assert.deepEqual([reason.code, reason.signal], ['ERR_TONDREL_EXITED', 'SIGKILL']);
    }
    assert.deepEqual(await agent.exited, { code: null, signal: 'SIGKILL' });
  });

  await t.test('a killed agent is started again; the per-application view says what became unknown', async () => {
    // Input starts at the second poll and stops at the fourth: the kill lands
    // in between, and the new agent, on the same scenario, reports it afresh.
    const supervisor = superviseAgent(simPath, { args: ['--speed', '10', scenario('pages')], restartDelayMs: 50 });
    const view = new MicActivity(supervisor);
    const seen = [];
    view.on('start', (app) => seen.push(['start', app.key, app.bundleId]));
    view.on('stop', (app) => seen.push(['stop', app.key, app.bundleId]));
    view.on('reset', (apps) => seen.push(['reset', apps.map((app) => app.key)]));
    await once(view, 'start');
    assert.deepEqual(view.active.map((app) => app.pids), [[502]]);
    const exited = once(supervisor, 'exit');
    // The killed agent writes nothing more: the next stop is the new agent's.
    const stopped = once(view, 'stop');
    assert.equal(supervisor.client.kill('SIGKILL'), true);
    assert.deepEqual((await exited)[0], { code: null, signal: 'SIGKILL', restartInMs: 50 });
    assert.deepEqual(await supervisor.ready, { perProcess: true, restarts: 1, micStateUnknown: true });
    assert.deepEqual((await supervisor.pageUrls({ pid: 600 })).urls, pages.browser);
    await stopped;
    assert.deepEqual(await supervisor.close(), { code: 0, signal: null });
    assert.deepEqual(seen, [
      ['start', 'app:501', 'org.example.meeting'],
      ['reset', ['app:501']],
      ['start', 'app:501', 'org.example.meeting'],
      ['stop', 'app:501', 'org.example.meeting'],
    ]);
  });

  await t.test('close() with slow requests in flight: exit 0, nothing left hanging', async () => {
    const agent = startSim('pages', 1);
    await agent.ready;
    const inFlight = [1, 2, 3].map(() => agent.pageUrls({ pid: 710 }));
    const exit = agent.close();
    const outcomes = await settled(inFlight);
    assert.deepEqual(await exit, { code: 0, signal: null });
    // The agent ends at the end of its input without waiting for page reads:
    // at full speed each of these takes over a second.
    assert.ok(outcomes.every((o) => o.status === 'rejected' && o.reason.code === 'ERR_TONDREL_EXITED'));
    assert.equal(agent.pendingCount, 0);
  });
});
