'use strict';

// Every example scenario runs clean: the agent starts, answers a request for
// each application it can read, plays the whole audio timeline, and exits
// with status 0 at end of input, with nothing on standard error. The demo,
// which the README shows, is checked line by line.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Agent, examples, tempDir, waitForPolls, readTrace } = require('./agent');

// Every scenario in the folder, those of the examples in subfolders included.
function scenarioFiles(dir, prefix = '') {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const name = prefix + entry.name;
    if (entry.isDirectory()) return scenarioFiles(path.join(dir, entry.name), `${name}/`);
    return name.endsWith('.json') ? [name] : [];
  });
}
const files = scenarioFiles(examples).sort();

const kinds = {
  ready: { perProcess: 'boolean' },
  mic: { running: 'boolean', pid: 'number|null', appPid: 'number|null', bundleId: 'string|null', appName: 'string|null' },
  'page-urls': { id: 'number', trusted: 'boolean', urls: 'object' },
};

function checkShape(message) {
  const keys = kinds[message.event];
  assert.ok(keys, `unknown event in ${JSON.stringify(message)}`);
  assert.deepEqual(Object.keys(message).sort(), ['event', ...Object.keys(keys)].sort());
  for (const [key, types] of Object.entries(keys)) {
    const type = message[key] === null ? 'null' : typeof message[key];
    assert.ok(types.split('|').includes(type), `${key} of ${JSON.stringify(message)}`);
  }
}

async function run(t, file) {
  const scenario = JSON.parse(fs.readFileSync(path.join(examples, file), 'utf8'));
  const trace = path.join(tempDir(), 'trace.jsonl');
  const agent = Agent.sim(path.join(examples, file), { trace });
  t.after(() => agent.kill());
  await agent.ready();
  const pids = (scenario.accessibility?.applications ?? []).map((a) => a.pid);
  pids.forEach((pid, i) => agent.send({ cmd: 'page-urls', id: i + 1, pid }));
  const replies = [];
  for (let i = 0; i < pids.length; i++) replies.push(await agent.reply(i + 1));
  const steps = scenario.audio?.timeline ?? [];
  const last = steps.length ? steps[steps.length - 1].poll : 1;
  await waitForPolls(trace, last + 1);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  assert.equal(agent.stderr, '');
  agent.messages.forEach(checkShape);
  const major = Number((scenario.osVersion ?? '14').split('.')[0]);
  assert.deepEqual(agent.messages[0], { event: 'ready', perProcess: major >= 14 });
  return { agent, replies, trace: readTrace(trace) };
}

test('the examples folder has the demo and a scenario per monitor kind', () => {
  assert.ok(files.includes('demo.json'));
  const versions = files.map((f) => JSON.parse(fs.readFileSync(path.join(examples, f), 'utf8')).osVersion ?? '14');
  assert.ok(versions.some((v) => Number(v.split('.')[0]) >= 14));
  assert.ok(versions.some((v) => Number(v.split('.')[0]) < 14));
});

for (const file of files) {
  test(`example ${file} runs clean`, async (t) => {
    await run(t, file);
  });
}

test('the demo: the helper\'s input is the meeting app\'s, and the browser shows two pages', async (t) => {
  const { agent, replies, trace } = await run(t, 'demo.json');
  const meeting = { appPid: 501, bundleId: 'org.example.meeting', appName: 'Meeting' };
  assert.deepEqual(agent.messages.filter((m) => m.event === 'mic'), [
    { event: 'mic', running: true, pid: 502, ...meeting },
    { event: 'mic', running: false, pid: 502, ...meeting },
  ]);
  assert.deepEqual(replies, [{
    event: 'page-urls', id: 1, trusted: true,
    urls: ['https://example.org/agenda', 'https://example.com/notes?day=1'],
  }]);
  // The browser builds its tree only once switched on, and is switched off after.
  const sets = trace.filter((e) => e.event === 'set-attribute').map((e) => [e.attribute, e.value, e.result]);
  assert.deepEqual(sets, [['AXManualAccessibility', true, 0], ['AXManualAccessibility', false, 0]]);
});
