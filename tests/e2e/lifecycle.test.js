'use strict';

// Start-up, end of input and the end of the host's reading, for both
// binaries: tondrel (an empty simulated Mac) and tondrel-sim on a scenario.

const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {
  Agent, examples, readTrace, runSim, tempDir, tondrel, tondrelSim, waitForPolls, withPatience,
} = require('./agent');

const demo = path.join(examples, 'demo.json');
const agents = [
  { name: 'tondrel', start: () => Agent.plain(), perProcess: true },
  { name: 'tondrel-sim', start: () => Agent.sim(demo), perProcess: true },
  {
    name: 'tondrel-sim on macOS 13',
    start: () => Agent.sim(path.join(examples, 'device-monitor.json')),
    perProcess: false,
  },
];

// Starts the agent through a shell that runs `script` (ending in an exec of
// "$0" "$@"), so it inherits what the shell sets up: closed descriptors,
// ignored signals.
function fromShell(script, binary, args = []) {
  return new Agent('/bin/sh', ['-c', script, binary, ...args]);
}
const plainAndSim = [
  { name: 'tondrel', binary: tondrel, args: [] },
  { name: 'tondrel-sim', binary: tondrelSim, args: ['--speed', '20', demo] },
];

// Every line is one JSON object; the first is ready, with exactly its keys.
function checkStream(agent, perProcess) {
  for (const line of agent.lines) {
    assert.doesNotThrow(() => JSON.parse(line), `not JSON: ${line}`);
    assert.ok(!line.includes('\r'), `carriage return in: ${line}`);
  }
  assert.deepEqual(agent.messages[0], { event: 'ready', perProcess });
  assert.equal(agent.messages.filter((m) => m.event === 'ready').length, 1);
}

// Closes the host's end of the agent's output, asks for a reply and expects
// the broken-pipe signal to end the agent at that write: nothing catches it,
// whatever disposition the agent inherited.
async function endsAtNextWrite(agent) {
  await agent.ready();
  agent.child.stdout.destroy();
  agent.send({ cmd: 'page-urls', id: 1, bundleIds: [] });
  const ended = await withPatience(agent.exit, 'the agent to end');
  assert.deepEqual(ended, { code: null, signal: 'SIGPIPE' });
}

for (const { name, start, perProcess } of agents) {
  test(`${name}: ready comes first even when commands were written before it`, async (t) => {
    const agent = start();
    t.after(() => agent.kill());
    // Written at once, before the agent can have written anything.
    for (let id = 1; id <= 3; id++) agent.send({ cmd: 'page-urls', id, bundleIds: [] });
    for (let id = 1; id <= 3; id++) await agent.reply(id);
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    checkStream(agent, perProcess);
    const replies = agent.messages.filter((m) => m.event === 'page-urls');
    assert.deepEqual(replies.map((m) => m.id), [1, 2, 3]);
    assert.ok(agent.messages.indexOf(replies[0]) > 0);
  });

  test(`${name}: input that ends during start-up still gets ready, then status 0`, async () => {
    const agent = start();
    agent.end();
    assert.deepEqual(await withPatience(agent.exit, 'exit'), { code: 0, signal: null });
    await agent.closed;
    checkStream(agent, perProcess);
  });

  test(`${name}: status 0 at end of input after a final line feed`, async (t) => {
    const agent = start();
    t.after(() => agent.kill());
    await agent.ready();
    agent.send({ cmd: 'page-urls', id: 1, bundleIds: [] });
    await agent.reply(1);
    // This one may or may not be answered before the agent exits.
    agent.send({ cmd: 'page-urls', id: 2, bundleIds: [] });
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    checkStream(agent, perProcess);
    assert.equal(agent.messages.filter((m) => m.event === 'page-urls' && m.id === 1).length, 1);
    assert.equal(agent.stderr, '');
  });

  test(`${name}: status 0 at end of input after a last line without a line feed`, async (t) => {
    const agent = start();
    t.after(() => agent.kill());
    await agent.ready();
    agent.send({ cmd: 'page-urls', id: 1, bundleIds: [] });
    await agent.reply(1);
    // Never handled: its line never ends.
    agent.write(JSON.stringify({ cmd: 'page-urls', id: 2, bundleIds: [] }));
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    checkStream(agent, perProcess);
    assert.deepEqual(agent.messages.filter((m) => m.event === 'page-urls').map((m) => m.id), [1]);
    assert.equal(agent.stderr, '');
  });

  test(`${name}: ends at its next write once the host has closed its output`, async (t) => {
    const agent = start();
    t.after(() => agent.kill());
    await endsAtNextWrite(agent);
  });
}

test('tondrel-sim: a mic event written after the host closed the output ends it', async (t) => {
  const agent = Agent.sim(demo);
  t.after(() => agent.kill());
  await agent.ready();
  // Input stays open and no command is sent: only the timeline's first mic
  // event, a few polls in, writes again.
  agent.child.stdout.destroy();
  const ended = await withPatience(agent.exit, 'the agent to end');
  assert.deepEqual(ended, { code: null, signal: 'SIGPIPE' });
});

for (const { name, binary, args } of plainAndSim) {
  test(`${name}: started with standard input closed, it writes ready and ends with status 0`,
    async (t) => {
      const agent = fromShell('exec "$0" "$@" <&-', binary, args);
      t.after(() => agent.kill());
      assert.deepEqual(await withPatience(agent.exit, 'exit'), { code: 0, signal: null });
      await agent.closed;
      checkStream(agent, true);
    });

  test(`${name}: ends at its next write after the host closed its output, broken-pipe signal ignored`,
    async (t) => {
      const agent = fromShell('trap "" PIPE; exec "$0" "$@"', binary, args);
      t.after(() => agent.kill());
      await endsAtNextWrite(agent);
    });
}

test('tondrel-sim: started with standard output closed, nothing of the stream reaches the trace',
  async (t) => {
    const trace = path.join(tempDir(), 'trace.jsonl');
    const agent = fromShell('exec "$0" "$@" >&-', tondrelSim, ['--speed', '20', '--trace', trace, demo]);
    t.after(() => agent.kill());
    await waitForPolls(trace, 2);
    agent.send({ cmd: 'page-urls', id: 1, bundleIds: [] });
    await waitForPolls(trace, 12);
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });
    const events = new Set(readTrace(trace).map((entry) => entry.event));
    for (const message of ['ready', 'mic', 'page-urls']) assert.ok(!events.has(message), message);
  });

test('tondrel-sim: a timer that is always due does not starve the input', async (t) => {
  // At this speed a poll is due on every turn of the run loop; commands and
  // the end of input must still get their turn between the ticks.
  const agent = Agent.sim(demo, { speed: 1e7 });
  t.after(() => agent.kill());
  for (let id = 1; id <= 3; id++) agent.send({ cmd: 'page-urls', id, bundleIds: [] });
  for (let id = 1; id <= 3; id++) await agent.reply(id);
  assert.deepEqual(await agent.finish(), { code: 0, signal: null });
});

// Standard input that is not a pipe: a regular file or a named FIFO must end
// the agent at its end just the same, after the lines it held were handled.
function commandLine(id) {
  return JSON.stringify({ cmd: 'page-urls', id, pid: 1 });
}

// Replies are written by the page reader, which the exit at the end of input
// does not wait for: any that made it are whole and answer the given ids.
// (A scenario's microphone timeline may add mic events in between.)
function onlyRepliesTo(agent, ids) {
  for (const message of agent.messages.slice(1)) {
    if (message.event === 'mic') continue;
    assert.equal(message.event, 'page-urls', JSON.stringify(message));
    assert.ok(ids.includes(message.id), JSON.stringify(message));
  }
}

for (const { name, binary, args } of plainAndSim) {
  for (const [kind, text, ids] of [
    ['an empty file', '', []],
    ['a file of complete lines', `${[1, 2, 3].map(commandLine).join('\n')}\n`, [1, 2, 3]],
    // The unfinished last line is no command.
    ['a file whose last line has no line feed', [1, 2, 3].map(commandLine).join('\n'), [1, 2]],
  ]) {
    test(`${name}: standard input from ${kind} ends the agent with status 0`, async (t) => {
      const file = path.join(tempDir(), 'commands.jsonl');
      fs.writeFileSync(file, text);
      const agent = fromShell(`exec "$0" "$@" < '${file}'`, binary, args);
      t.after(() => agent.kill());
      const ended = await withPatience(agent.exit, 'the agent to exit at the end of the file');
      await withPatience(agent.closed, 'the output to end');
      assert.deepEqual(ended, { code: 0, signal: null }, agent.stderr);
      checkStream(agent, true);
      onlyRepliesTo(agent, ids);
    });
  }

  test(`${name}: standard input from a named FIFO is read until its writer closes`, async (t) => {
    const fifo = path.join(tempDir(), 'commands');
    execFileSync('mkfifo', [fifo]);
    // The shell's open of the FIFO waits for this writer, and ours for it.
    const agent = fromShell(`exec "$0" "$@" < '${fifo}'`, binary, args);
    t.after(() => agent.kill());
    const writer = await fs.promises.open(fifo, 'w');
    try {
      await writer.write(`${commandLine(1)}\n${commandLine(2)}\n`);
      await agent.ready();
      // Both lines are handled while the FIFO is still open...
      await agent.reply(1);
      await agent.reply(2);
      await writer.write(`${commandLine(3)}\n`);
      await agent.reply(3);
    } finally {
      // ...and closing its only writer is the end of the agent's input.
      await writer.close();
    }
    const ended = await withPatience(agent.exit, 'the agent to exit when the writer closed');
    assert.deepEqual(ended, { code: 0, signal: null }, agent.stderr);
    checkStream(agent, true);
    onlyRepliesTo(agent, [1, 2, 3]);
  });
}

test('tondrel-sim: speeds at both ends of the range still answer and end at end of input', async (t) => {
  // The tiny ones put the next poll further away than the clock counts (about
  // 292 years in nanoseconds); the huge ones make a poll due on every turn.
  for (const speed of ['1e-11', '1e-300', '1e300', '1.7976931348623157e308']) {
    const agent = Agent.sim(demo, { speed });
    t.after(() => agent.kill());
    await agent.ready();
    agent.send({ cmd: 'page-urls', id: 1, bundleIds: [] });
    await agent.reply(1);
    assert.deepEqual(await agent.finish(), { code: 0, signal: null }, `--speed ${speed}`);
  }
});

test('tondrel-sim: starts on 20,000 entries in every list, and still finds a key given twice in them',
  async (t) => {
    // Long lists, every kind at once, polled at speed: the load and each poll
    // are linear in the entries (scripts/bench shows the load's growth; a
    // sanitizer build is too slow to time anything by).
    const count = 20000;
    const list = (entry) => Array.from({ length: count }, (_, i) => entry(i + 2)).join(',');
    const processes = list((pid) => `{"pid":${pid},"parent":1}`);
    const applications = list((pid) => `{"pid":${pid},"bundleId":"org.example.app${pid}"}`);
    const audioProcesses = list((id) => `{"id":${id},"pid":${id},"input":${id % 1000 === 0}}`);
    const devices = list((id) => `{"id":${count + id},"running":false}`);
    const scenario = (lastDevice) => `{"processes":[${processes}],"applications":[${applications}],` +
      `"audio":{"processes":[${audioProcesses}],"devices":[${devices}${lastDevice}]}}`;
    const dir = tempDir();
    const large = path.join(dir, 'large.json');
    fs.writeFileSync(large, scenario(''));
    const twice = path.join(dir, 'twice.json');
    fs.writeFileSync(twice, scenario(',{"id":1,"running":false,"id":2}'));

    const agent = Agent.sim(large);
    t.after(() => agent.kill());
    await agent.ready();
    agent.send({ cmd: 'page-urls', id: 1, bundleIds: ['org.example.app2000'] });
    assert.deepEqual(await agent.reply(1), { event: 'page-urls', id: 1, trusted: false, urls: [] });
    assert.deepEqual(await agent.finish(), { code: 0, signal: null });

    const { code, stderr } = await runSim([twice]);
    assert.equal(code, 2);
    assert.equal(stderr, `tondrel-sim: ${twice}: at /audio/devices/${count}/id: ` +
      'key given twice; expected each key once per object\n');
  });
