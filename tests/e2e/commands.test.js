'use strict';

// Command handling as a host sees it: which lines get a reply, and that every
// accepted command gets exactly one, in order.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Agent, scenarios } = require('./agent');

const browser = path.join(scenarios, 'browser.json');
const pageA = 'https://example.org/a/b?c=d';
const pageB = 'https://example.net/\u00e9t\u00e9';

// Lines that are not a valid command: no reply, and nothing else changes.
const invalid = [
  ['an empty line', ''],
  ['a line of spaces', '   \t '],
  ['a carriage return alone', '\r'],
  ['not JSON', 'page-urls 1'],
  ['an unfinished object', '{"cmd":"page-urls","id":1'],
  ['a trailing comma', '{"cmd":"page-urls","id":1,}'],
  ['text after the object', '{"cmd":"page-urls","id":1} x'],
  ['two objects on one line', '{"cmd":"page-urls","id":1}{"cmd":"page-urls","id":2}'],
  ['a NUL after the object', '{"cmd":"page-urls","id":1}\u0000'],
  ['a NUL inside the object', '{"cmd":"page-urls",\u0000"id":1}'],
  ['a top-level array', '[{"cmd":"page-urls","id":1}]'],
  ['a top-level number', '7'],
  ['a top-level string', '"page-urls"'],
  ['a top-level null', 'null'],
  ['a top-level true', 'true'],
  ['no "cmd"', '{"id":1,"pid":640}'],
  ['"cmd" in other letter case', '{"cmd":"Page-URLs","id":1}'],
  ['another command', '{"cmd":"page-url","id":1}'],
  ['"cmd" a number', '{"cmd":1,"id":1}'],
  ['"cmd" null', '{"cmd":null,"id":1}'],
  ['"cmd" an array', '{"cmd":["page-urls"],"id":1}'],
  ['no "id"', '{"cmd":"page-urls","pid":640}'],
  ['"id" a string', '{"cmd":"page-urls","id":"7"}'],
  ['"id" with a fraction', '{"cmd":"page-urls","id":7.5}'],
  ['"id" just above a whole number', '{"cmd":"page-urls","id":7.000000000000001}'],
  ['"id" null', '{"cmd":"page-urls","id":null}'],
  ['"id" true', '{"cmd":"page-urls","id":true}'],
  ['"id" false', '{"cmd":"page-urls","id":false}'],
  ['"id" an object', '{"cmd":"page-urls","id":{"n":1}}'],
  ['"id" one past the largest', '{"cmd":"page-urls","id":9223372036854775808}'],
  ['"id" one below the smallest', '{"cmd":"page-urls","id":-9223372036854775809}'],
  ['"id" 2^64', '{"cmd":"page-urls","id":18446744073709551616}'],
  ['"id" 1e19', '{"cmd":"page-urls","id":1e19}'],
  ['"id" 2^62 and a half', '{"cmd":"page-urls","id":4611686018427387904.5}'],
  ['"pid" true', '{"cmd":"page-urls","id":1,"pid":true}'],
  ['"pid" false', '{"cmd":"page-urls","id":1,"pid":false}'],
  ['"pid" one past the signed 32-bit range', '{"cmd":"page-urls","id":1,"pid":2147483648}'],
  ['"pid" one below the signed 32-bit range', '{"cmd":"page-urls","id":1,"pid":-2147483649}'],
];

// Lines that are valid, each with the reply it must get.
const valid = [
  ['pid', '{"cmd":"page-urls","id":101,"pid":640}', 101, [pageA]],
  ['id as 7.0', '{"cmd":"page-urls","id":102.0,"pid":641}', 102, [pageB]],
  ['id as 1.03e2', '{"cmd":"page-urls","id":1.03e2,"pid":640}', 103, [pageA]],
  ['the largest id', '{"cmd":"page-urls","id":9223372036854775807}', '9223372036854775807', []],
  ['the smallest id', '{"cmd":"page-urls","id":-9223372036854775808}', '-9223372036854775808', []],
  ['CR LF', '{"cmd":"page-urls","id":104,"pid":640}\r', 104, [pageA]],
  ['pid wins over bundleIds', '{"cmd":"page-urls","id":105,"pid":641,"bundleIds":["org.example.browser"]}', 105, [pageB]],
  ['bundleIds, two applications in order', '{"cmd":"page-urls","id":106,"bundleIds":["org.example.browser"]}', 106, [pageA, pageB]],
  ['bundleIds twice', '{"cmd":"page-urls","id":107,"bundleIds":["org.example.browser","org.example.browser"]}', 107, [pageA, pageB, pageA, pageB]],
  ['pid null falls back to bundleIds', '{"cmd":"page-urls","id":108,"pid":null,"bundleIds":["org.example.browser"]}', 108, [pageA, pageB]],
  ['pid as a string falls back', '{"cmd":"page-urls","id":109,"pid":"640"}', 109, []],
  ['pid with a fraction falls back', '{"cmd":"page-urls","id":110,"pid":640.5,"bundleIds":["org.example.browser"]}', 110, [pageA, pageB]],
  ['pid 640.0 is the whole number', '{"cmd":"page-urls","id":111,"pid":640.0}', 111, [pageA]],
  ['bundleIds with a number', '{"cmd":"page-urls","id":112,"bundleIds":["org.example.browser",1]}', 112, []],
  ['bundleIds not an array', '{"cmd":"page-urls","id":113,"bundleIds":"org.example.browser"}', 113, []],
  ['other keys ignored', '{"x":[1,{"y":2}],"cmd":"page-urls","id":114,"pid":640,"z":null}', 114, [pageA]],
  ['ill-formed UTF-8 inside a string', Buffer.concat([Buffer.from('{"cmd":"page-urls","id":115,"bundleIds":["org.'), Buffer.from([0xff, 0xc3]), Buffer.from('"]}')]), 115, []],
];

function ids(agent) {
  // The two extreme ids are compared as text: JavaScript numbers cannot hold
  // them exactly.
  return agent.lines.map((line) => {
    const m = /"id":(-?\d+)/.exec(line);
    return m ? m[1] : null;
  });
}

test('an invalid line gets no reply while the lines around it are answered', async (t) => {
  const agent = Agent.sim(browser);
  t.after(() => agent.kill());
  const expected = [];
  let id = 1;
  const sendValid = () => {
    agent.send({ cmd: 'page-urls', id, pid: 640 });
    expected.push(String(id++));
  };
  sendValid();
  for (const [, line] of invalid) {
    agent.write(Buffer.concat([Buffer.from(line), Buffer.from('\n')]));
    sendValid();
  }
  await agent.reply(id - 1);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });

  const replies = agent.messages.slice(1);
  assert.deepEqual(agent.messages[0], { event: 'ready', perProcess: true });
  assert.deepEqual(ids(agent).slice(1), expected,
    `each invalid line must add no reply; cases: ${invalid.map(([n]) => n).join(', ')}`);
  for (const reply of replies) {
    assert.deepEqual(reply, { event: 'page-urls', id: reply.id, trusted: true, urls: [pageA] });
  }
});

test('valid lines of every form are answered as they ask', async (t) => {
  const agent = Agent.sim(browser);
  t.after(() => agent.kill());
  for (const [, line] of valid) {
    agent.write(Buffer.concat([Buffer.isBuffer(line) ? line : Buffer.from(line), Buffer.from('\n')]));
  }
  agent.send({ cmd: 'page-urls', id: 999, bundleIds: [] });
  await agent.reply(999);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });

  const replies = agent.messages.slice(1, -1);
  assert.equal(replies.length, valid.length);
  valid.forEach(([name, , id, urls], i) => {
    assert.equal(ids(agent)[i + 1], String(id), name);
    assert.deepEqual(replies[i].urls, urls, name);
    assert.equal(replies[i].trusted, true, name);
  });
  // Every solidus is escaped on the wire.
  assert.ok(agent.lines[1].includes('https:\\/\\/example.org\\/a\\/b?c=d'), agent.lines[1]);
});

test('a command split over several writes is handled once its line feed arrives', async (t) => {
  const agent = Agent.sim(browser);
  t.after(() => agent.kill());
  await agent.ready();
  const line = Buffer.from('{"cmd":"page-urls","id":5,"pid":640}\n{"cmd":"page-urls","id":6,"pid":641}\n');
  for (let at = 0; at < line.length; at += 7) {
    agent.write(line.subarray(at, at + 7));
    await new Promise((resolve) => setTimeout(resolve, 2));
  }
  assert.deepEqual((await agent.reply(5)).urls, [pageA]);
  assert.deepEqual((await agent.reply(6)).urls, [pageB]);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
});

for (const { name, start, urls, trusted } of [
  { name: 'tondrel', start: () => Agent.plain(), urls: [], trusted: false },
  { name: 'tondrel-sim', start: () => Agent.sim(browser), urls: [pageA], trusted: true },
]) {
  test(`${name}: a burst of 10,000 commands gets exactly one reply each, in order`, async (t) => {
    const agent = start();
    t.after(() => agent.kill());
    const count = 10000;
    const lines = [];
    for (let id = 1; id <= count; id++) lines.push(JSON.stringify({ cmd: 'page-urls', id, pid: 640 }));
    // One write, so the agent sees large chunks with lines cut anywhere.
    agent.write(`${lines.join('\n')}\n`);
    await agent.reply(count);
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    const replies = agent.messages.filter((m) => m.event === 'page-urls');
    assert.equal(replies.length, count);
    replies.forEach((reply, i) => {
      assert.equal(reply.id, i + 1);
      assert.deepEqual(reply.urls, urls);
      assert.equal(reply.trusted, trusted);
    });
    assert.equal(agent.messages.length, count + 1);
  });
}
