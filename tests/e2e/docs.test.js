'use strict';

// The scenario examples in docs/scenario.md are scenarios tondrel-sim takes,
// and the ones the text describes in detail behave as it says.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { Agent, tempDir, waitForPolls } = require('./agent');

const doc = fs.readFileSync(path.join(__dirname, '..', '..', 'docs', 'scenario.md'), 'utf8');
const blocks = [...doc.matchAll(/```json\n([\s\S]*?)```/g)].map((m) => m[1]);
const dir = tempDir();

function file(block, i) {
  const name = path.join(dir, `doc-${i}.json`);
  fs.writeFileSync(name, block);
  return name;
}

test('the document has its examples', () => {
  assert.ok(blocks.length >= 7, `${blocks.length} examples`);
});

blocks.forEach((block, i) => {
  test(`example ${i + 1} of docs/scenario.md is accepted`, async () => {
    const agent = Agent.sim(file(block, i));
    await agent.ready();
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    assert.equal(agent.stderr, '');
  });
});

test('the browser example finds the URL objects, also below an unreadable role', async (t) => {
  const i = blocks.findIndex((b) => b.includes('"windowsNeedSwitch": true'));
  const agent = Agent.sim(file(blocks[i], i));
  t.after(() => agent.kill());
  agent.send({ cmd: 'page-urls', id: 1, pid: 600 });
  assert.deepEqual((await agent.reply(1)).urls, ['https://example.org/', 'https://example.org/deep']);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
});

test('the per-process timeline example writes the events described', async (t) => {
  const i = blocks.findIndex((b) => b.includes('"listFailure": "read"'));
  const trace = path.join(dir, 'trace.jsonl');
  const agent = Agent.sim(file(blocks[i], i), { trace });
  t.after(() => agent.kill());
  await waitForPolls(trace, 13);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  const meeting = { appPid: 501, bundleId: 'org.example.meeting', appName: 'Meeting' };
  const none = { appPid: null, bundleId: null, appName: null };
  assert.deepEqual(agent.messages.slice(1), [
    { event: 'mic', running: true, pid: 502, ...meeting },
    { event: 'mic', running: false, pid: 503, ...none },
    { event: 'mic', running: false, pid: 502, ...meeting },
  ]);
});
