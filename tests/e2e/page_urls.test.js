'use strict';

// What a page-urls request does to the applications it reads, seen from
// outside through the trace: which attributes it writes, its walks and waits.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Agent, scenarios, tempDir, readTrace } = require('./agent');

const MA = 'AXManualAccessibility';
const EUI = 'AXEnhancedUserInterface';

// The trace entries of each query, cut where the next query sets its
// messaging timeout (queries run one after another); polls left out.
function byQuery(trace) {
  const queries = [];
  for (const entry of trace) {
    if (entry.event === 'poll') continue;
    if (entry.event === 'messaging-timeout' && entry.element === 'application') {
      queries.push({ pid: entry.pid, seconds: entry.seconds, steps: [] });
    } else if (queries.length > 0) {
      queries[queries.length - 1].steps.push(entry);
    }
  }
  return queries;
}

// A compact form of a query's steps: "set A=true:ok", "walk", "wait".
function steps(query) {
  return query.steps.map((e) => {
    if (e.event === 'walk') {
      assert.equal(e.pid, query.pid);
      return 'walk';
    }
    if (e.event === 'wait') {
      assert.equal(e.seconds, 0.3);
      return 'wait';
    }
    assert.equal(e.event, 'set-attribute');
    assert.equal(e.pid, query.pid);
    return `set ${e.attribute}=${e.value}:${e.result === 0 ? 'ok' : 'refused'}`;
  });
}

const walks = (n) => Array.from({ length: n }, (_, i) => (i === 0 ? ['walk'] : ['wait', 'walk'])).flat();

const rows = [
  { pid: 801, name: 'manual already true', urls: [], steps: walks(2) },
  {
    pid: 802, name: 'manual set succeeds', urls: [],
    steps: [`set ${MA}=true:ok`, ...walks(4), 'wait', `set ${MA}=false:ok`],
  },
  {
    pid: 803, name: 'manual refused, enhanced already true', urls: [],
    steps: [`set ${MA}=true:refused`, ...walks(2)],
  },
  {
    pid: 804, name: 'manual refused, enhanced set succeeds', urls: [],
    steps: [`set ${MA}=true:refused`, `set ${EUI}=true:ok`, ...walks(4), 'wait', `set ${EUI}=false:ok`],
  },
  {
    pid: 805, name: 'both refused', urls: [],
    steps: [`set ${MA}=true:refused`, `set ${EUI}=true:refused`, ...walks(2)],
  },
  {
    pid: 806, name: 'switched on, pages at the first walk', urls: ['https://example.org/first'],
    steps: [`set ${MA}=true:ok`, 'walk', `set ${MA}=false:ok`],
  },
  {
    pid: 807, name: 'switched on, pages from the third walk', urls: ['https://example.org/third'],
    steps: [`set ${MA}=true:ok`, ...walks(3), `set ${MA}=false:ok`],
  },
  { pid: 808, name: 'nothing switched, pages from the third walk', urls: [], steps: walks(2) },
  { pid: 809, name: 'already on, pages at once', urls: ['https://example.org/at-once'], steps: ['walk'] },
  // No application behind the pid: every call fails, the sets included.
  {
    pid: 899, name: 'no such application', urls: [],
    steps: [`set ${MA}=true:refused`, `set ${EUI}=true:refused`, ...walks(2)],
  },
];

test('each switch-on case writes, walks and waits as its row says', async (t) => {
  const trace = path.join(tempDir(), 'trace.jsonl');
  const agent = Agent.sim(path.join(scenarios, 'switch-on.json'), { speed: 50, trace });
  t.after(() => agent.kill());
  rows.forEach(({ pid }, i) => agent.send({ cmd: 'page-urls', id: i + 1, pid }));
  for (let i = 0; i < rows.length; i++) {
    const reply = await agent.reply(i + 1);
    assert.deepEqual(reply.urls, rows[i].urls, rows[i].name);
    assert.equal(reply.trusted, true);
  }
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });

  const queries = byQuery(readTrace(trace));
  assert.deepEqual(queries.map((q) => q.pid), rows.map((r) => r.pid));
  rows.forEach((row, i) => {
    assert.equal(queries[i].seconds, 1, row.name);
    assert.deepEqual(steps(queries[i]), row.steps, row.name);
  });
});

test('a request by bundle identifiers reads the applications in registry order', async (t) => {
  const trace = path.join(tempDir(), 'trace.jsonl');
  const agent = Agent.sim(path.join(scenarios, 'switch-on.json'), { speed: 50, trace });
  t.after(() => agent.kill());
  agent.send({ cmd: 'page-urls', id: 1, bundleIds: ['org.example.none', 'org.example.rows'] });
  await agent.reply(1);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  assert.deepEqual(byQuery(readTrace(trace)).map((q) => q.pid), [801, 802]);
});

test('without the permission nothing is touched and the reply says so', async (t) => {
  const trace = path.join(tempDir(), 'trace.jsonl');
  const agent = Agent.sim(path.join(scenarios, 'untrusted.json'), { speed: 50, trace });
  t.after(() => agent.kill());
  agent.send({ cmd: 'page-urls', id: 1, pid: 802 });
  agent.send({ cmd: 'page-urls', id: 2, bundleIds: ['org.example.rows'] });
  assert.deepEqual(await agent.reply(1), { event: 'page-urls', id: 1, trusted: false, urls: [] });
  assert.deepEqual(await agent.reply(2), { event: 'page-urls', id: 2, trusted: false, urls: [] });
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  assert.deepEqual(readTrace(trace).filter((e) => e.event !== 'poll'), []);
});
