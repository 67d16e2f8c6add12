'use strict';

// tondrel.exe under Wine, driven as a host drives it: pipes from a Linux
// parent, through Wine, to the Windows agent. Wine answers the agent's start,
// its standard streams and its process questions truly; it has no UI
// Automation client, so every reply says untrusted, and it lists no audio
// sessions of other processes, so no microphone event comes.

const test = require('node:test');
const assert = require('node:assert/strict');
const { Agent, withPatience } = require('../e2e/agent');

// TONDREL names a launcher that runs tondrel.exe under Wine in the tests'
// prefix.
const start = () => Agent.plain();
const untrusted = (id) => ({ event: 'page-urls', id, trusted: false, urls: [] });

// Every line is one JSON object without a carriage return; ready comes first
// and once.
function checkStream(agent) {
  for (const line of agent.lines) {
    assert.ok(!line.includes('\r'), `carriage return in: ${JSON.stringify(line)}`);
    assert.doesNotThrow(() => JSON.parse(line), `not JSON: ${line}`);
  }
  assert.deepEqual(agent.messages[0], { event: 'ready', perProcess: true });
  assert.equal(agent.messages.filter((m) => m.event === 'ready').length, 1);
}

test('ready comes first, commands written before it are answered in order, status 0 at end of input',
  async (t) => {
    const agent = start();
    t.after(() => agent.kill());
    for (let id = 1; id <= 3; id++) agent.send({ cmd: 'page-urls', id, bundleIds: ['chrome.exe'] });
    for (let id = 1; id <= 3; id++) assert.deepEqual(await agent.reply(id), untrusted(id));
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    checkStream(agent);
    assert.deepEqual(agent.messages.slice(1).map((m) => m.id), [1, 2, 3]);
    assert.equal(agent.stderr, '');
  });

test('input that ends during start-up still gets ready, then status 0', async () => {
  const agent = start();
  agent.end();
  assert.deepEqual(await withPatience(agent.exit, 'exit'), { code: 0, signal: null });
  await agent.closed;
  checkStream(agent);
  assert.equal(agent.messages.length, 1);
});

test('input bytes reach the agent unchanged: CR LF, 0x1A and a last line without a line feed', async (t) => {
  const agent = start();
  t.after(() => agent.kill());
  await agent.ready();
  agent.write('{"cmd":"page-urls","id":1,"pid":4}\r\n');
  // Text mode would end the input at 0x1A; here it only spoils its own line.
  agent.write('\x1a{"cmd":"page-urls","id":2,"pid":4}\n');
  agent.write('{"cmd":"page-urls","id":3,"pid":4}\x1a\n');
  agent.write('{"cmd":"page-urls","id":4,"bundleIds":["x\u00e9.exe"]}\n');
  await agent.reply(4);
  // Never handled: its line never ends.
  agent.write('{"cmd":"page-urls","id":5,"bundleIds":[]}');
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  checkStream(agent);
  assert.deepEqual(agent.messages.slice(1), [untrusted(1), untrusted(4)]);
  assert.equal(agent.stderr, '');
});

test('invalid lines get no reply, the lines around them are answered', async (t) => {
  const agent = start();
  t.after(() => agent.kill());
  const invalid = ['', '\r', 'page-urls 1', '{"cmd":"page-urls","id":"7"}', '{"cmd":"page-urls","id":1,}',
    '{"cmd":"page-urls","id":1}\u0000'];
  let id = 100;
  for (const line of invalid) {
    agent.send({ cmd: 'page-urls', id: id++, bundleIds: [] });
    agent.write(`${line}\n`);
  }
  agent.send({ cmd: 'page-urls', id, bundleIds: [] });
  await agent.reply(id);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
  assert.deepEqual(agent.messages.slice(1).map((m) => m.id), [100, 101, 102, 103, 104, 105, 106]);
});

test('a host that closed the agent\'s output ends it at its next write, with status 141', async (t) => {
  const agent = start();
  t.after(() => agent.kill());
  await agent.ready();
  agent.child.stdout.destroy();
  agent.send({ cmd: 'page-urls', id: 1, bundleIds: [] });
  assert.deepEqual(await withPatience(agent.exit, 'the agent to end'), { code: 141, signal: null });
});
