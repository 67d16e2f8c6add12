// Microphone events from the real agent against a private PipeWire: which
// captures count, whose pid they carry, which application owns them, and
// what a PipeWire restart costs.
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { startAgent } from '../support/services/agent.mjs';
import { addSink, captureStreams, recordingPath, sourceName, startAudio, waitForCapture } from '../support/services/audio.mjs';
import { startSession } from '../support/services/session.mjs';

function parentOf(pid) {
  const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
  return Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
}

// Under a desktop that puts its applications in cgroup scopes, the test
// process and everything it starts already belong to an application (the
// terminal or editor it runs in), which takes precedence over what the tests
// set up.
function inApplicationScope() {
  try {
    return /\/app-[^/]*\.(scope|service)$/m.test(readFileSync('/proc/self/cgroup', 'utf8'));
  } catch {
    return false;
  }
}

const micOf = (pid, running) => (m) => m.event === 'mic' && m.pid === pid && m.running === running;

// The input states the agent wrote for a pid, in order.
const toldOf = (agent, pid) => agent.mics().filter((m) => m.pid === pid).map((m) => m.running);

// Waits for the stop of each pid, then checks that each had one start, then
// its stop.
async function startedThenStopped(agent, pids) {
  for (const pid of pids) await agent.waitForMessage(micOf(pid, false), { what: `stop of ${pid}` });
  for (const pid of pids) assert.deepEqual(toldOf(agent, pid), [true, false], `pid ${pid}`);
}

let counter = 0;
function record(session, { env, command = 'pw-record', args = [] } = {}) {
  const file = recordingPath(session, `capture-${++counter}`);
  return session.spawn(command, [...args, file], { env: env ? { ...session.env, ...env } : undefined });
}

describe('microphone over PipeWire', () => {
  let session;
  let audio;
  before(async () => {
    session = await startSession({ name: 'mic' });
    audio = await startAudio(session);
  });
  after(async () => {
    await session?.stop();
  });

  test('a capture running at start-up is reported once PipeWire has answered; later ones start and stop with their pids', async () => {
    // `ready` does not wait for PipeWire: the first poll finds no connection
    // yet, so what already captures is news at the first poll after it.
    const early = record(session);
    await waitForCapture(session, early.pid);
    const agent = await startAgent(session);
    try {
      assert.deepEqual(agent.messages[0], { event: 'ready', perProcess: true });
      await agent.waitForMessage(micOf(early.pid, true), { what: 'early capture reported' });

      const late = record(session);
      const [started, at] = await agent.waitForMessage(micOf(late.pid, true), { what: 'late capture starting' });
      assert.deepEqual(started, { event: 'mic', running: true, pid: late.pid, appPid: null, bundleId: null, appName: null });

      await session.stopProcess(late);
      await agent.waitForMessage(micOf(late.pid, false), { from: at, what: 'late capture stopping' });
      await session.stopProcess(early);
      await agent.waitForMessage(micOf(early.pid, false), { from: at, what: 'early capture stopping' });
      // One start and one stop each.
      assert.deepEqual(agent.mics().map((m) => [m.pid, m.running]),
        [[early.pid, true], [late.pid, true], [late.pid, false], [early.pid, false]]);
      assert.equal(agent.bad.length, 0, agent.bad.join('\n'));
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('two captures give two events, each with its own pid', async () => {
    const agent = await startAgent(session);
    try {
      const first = record(session);
      const second = record(session);
      await agent.waitForMessage(micOf(first.pid, true), { what: 'first capture' });
      await agent.waitForMessage(micOf(second.pid, true), { what: 'second capture' });
      assert.equal(agent.mics().filter((m) => m.running).length, 2);
      await session.stopProcess(first);
      await session.stopProcess(second);
      await agent.waitForMessage(micOf(first.pid, false), { what: 'first stopping' });
      await agent.waitForMessage(micOf(second.pid, false), { what: 'second stopping' });
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('a capture through the PulseAudio server carries the recorder\'s pid, not the server\'s', async () => {
    const agent = await startAgent(session);
    try {
      const recorder = record(session, { command: 'parecord' });
      const [event] = await agent.waitForMessage((m) => m.event === 'mic' && m.running,
        { what: 'parecord capture' });
      assert.equal(event.pid, recorder.pid);
      assert.notEqual(event.pid, audio.pulse.pid);
      await session.stopProcess(recorder);
      await agent.waitForMessage(micOf(recorder.pid, false), { what: 'parecord stopping' });
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('a client\'s claims about its pid do not move its capture to another process', async () => {
    const agent = await startAgent(session);
    try {
      // Claims that name the test runner, a process that captures nothing.
      const claim = `{ application.process.id = ${process.pid} }`;
      const cases = [
        { what: 'a stream property naming another pid', args: ['--properties', claim], truth: 'self' },
        { what: 'stream properties from the environment', env: { PIPEWIRE_PROPS: claim }, truth: 'self' },
        // pipewire-pulse passes on what its client claims; a claim that is no
        // pid leaves the pid unknown, never the server's own.
        { what: 'a PulseAudio client whose claimed pid is no number', command: 'parecord',
          args: ['--property=application.process.id=abc'], truth: null },
        { what: 'a PulseAudio client naming pipewire-pulse', command: 'parecord',
          args: [`--property=application.process.id=${audio.pulse.pid}`], truth: null },
      ];
      for (const c of cases) {
        const from = agent.messages.length;
        const recorder = record(session, c);
        const [started] = await agent.waitForMessage((m) => m.event === 'mic' && m.running,
          { from, what: c.what });
        const expected = c.truth === 'self' ? recorder.pid : c.truth;
        assert.equal(started.pid, expected, c.what);
        assert.notEqual(started.pid, process.pid, c.what);
        assert.notEqual(started.pid, audio.pulse.pid, c.what);
        await session.stopProcess(recorder);
        const [stopped] = await agent.waitForMessage((m) => m.event === 'mic' && !m.running,
          { from, what: `${c.what} stopping` });
        assert.equal(stopped.pid, expected, c.what);
      }
      assert.equal(agent.mics().length, cases.length * 2);
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('a capture of an output\'s monitor is not the microphone', async () => {
    await addSink(session, 'tondrel-speaker');
    const agent = await startAgent(session);
    try {
      const monitor = record(session, { command: 'parecord', args: ['-d', 'tondrel-speaker.monitor'] });
      const stream = await waitForCapture(session, monitor.pid, 'monitor capture running');
      assert.deepEqual([...new Set(stream.from)], ['Audio/Sink'], 'the capture records the output');
      // A real capture after it: the poll that reports it has seen the
      // monitor capture too.
      const real = record(session);
      await agent.waitForMessage(micOf(real.pid, true), { what: 'real capture' });
      assert.deepEqual(agent.mics().filter((m) => m.pid === monitor.pid), []);
      const streams = await captureStreams(session);
      assert.ok(streams.some((s) => s.pid === monitor.pid && s.state === 'running'
        && s.from.every((c) => c === 'Audio/Sink')), JSON.stringify(streams));
      await session.stopProcess(monitor);
      await session.stopProcess(real);
      await agent.waitForMessage(micOf(real.pid, false), { what: 'real capture stopping' });
      assert.deepEqual(agent.mics().filter((m) => m.pid === monitor.pid), []);
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('captures too short to sample each give a start and then a stop, with their pids', async () => {
    const agent = await startAgent(session);
    try {
      const pids = [];
      for (let i = 0; i < 10; i++) {
        const recorder = record(session);
        pids.push(recorder.pid);
        // Stopped as soon as PipeWire shows it running.
        await waitForCapture(session, recorder.pid, `short capture ${i} running`);
        await session.stopProcess(recorder);
      }
      await startedThenStopped(agent, pids);
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('a burst of 20 captures started together gives 20 starts and 20 stops', async () => {
    const agent = await startAgent(session);
    try {
      const burst = [];
      for (let i = 0; i < 20; i++) burst.push(record(session));
      for (const r of burst) await agent.waitForMessage(micOf(r.pid, true), { what: `start of ${r.pid}` });
      await Promise.all(burst.map((r) => session.stopProcess(r)));
      await startedThenStopped(agent, burst.map((r) => r.pid));
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('what happens while the agent cannot look is told in order once it can', async () => {
    // Streams that nothing links on its own, linked and unlinked by hand
    // while the agent is stopped: once it runs again PipeWire's messages
    // arrive together, long after each capture ended.
    const recorders = [1, 2, 3].map((n) => {
      const name = `tondrel-held-${n}`;
      const child = record(session, { args: ['-P', `{ node.autoconnect = false node.name = ${name} }`] });
      return { n, name, child, pid: child.pid };
    });
    const stateOf = async (r) => (await captureStreams(session)).find((s) => s.pid === r.pid)?.state;
    for (const r of recorders) {
      await session.waitFor(async () => (await stateOf(r)) !== undefined, { what: `stream of recorder ${r.n}` });
    }
    const pwLink = async (args) => {
      const result = await session.run('pw-link', args);
      assert.equal(result.code, 0, `pw-link ${args.join(' ')}: ${result.stderr}`);
    };
    const link = (r) => pwLink([`${sourceName}:capture_MONO`, `${r.name}:input_FL`]);
    const unlink = (r) => pwLink(['-d', `${sourceName}:capture_MONO`, `${r.name}:input_FL`]);

    const agent = await startAgent(session);
    // The agent has met PipeWire and seen the idle streams: PipeWire tells
    // its objects in order, so a capture started after them that the agent
    // reports, start and end, proves it. (That the agent sleeps proves
    // nothing: on a loaded machine it may still be connecting.)
    const marker = record(session);
    await agent.waitForMessage(micOf(marker.pid, true), { what: 'the marker capture starting' });
    await session.stopProcess(marker);
    await agent.waitForMessage(micOf(marker.pid, false), { what: 'the marker capture stopping' });
    await session.waitFor(() => agent.alive && readFileSync(`/proc/${agent.child.pid}/status`, 'utf8')
      .includes('State:\tS'), { what: 'the agent idle' });
    process.kill(agent.child.pid, 'SIGSTOP');
    let stopped = true;
    try {
      for (const r of recorders) await link(r);
      for (const r of recorders) {
        await session.waitFor(async () => (await stateOf(r)) === 'running', { what: `recorder ${r.n} running` });
      }
      // 1 stops; 2 stops and goes away with its client; 3 goes on.
      await unlink(recorders[0]);
      await unlink(recorders[1]);
      for (const r of recorders.slice(0, 2)) {
        await session.waitFor(async () => (await stateOf(r)) !== 'running', { what: `recorder ${r.n} stopped` });
      }
      await session.stopProcess(recorders[1].child);
      await session.waitFor(async () => (await stateOf(recorders[1])) === undefined, { what: 'recorder 2 gone' });
      assert.deepEqual(agent.mics().filter((m) => recorders.some((r) => r.pid === m.pid)), []);
      process.kill(agent.child.pid, 'SIGCONT');
      stopped = false;

      await agent.waitForMessage(micOf(recorders[2].pid, true), { what: 'the capture still running' });
      for (const r of recorders.slice(0, 2)) await agent.waitForMessage(micOf(r.pid, false), { what: `end of ${r.n}` });
      assert.deepEqual(toldOf(agent, recorders[0].pid), [true, false]);
      assert.deepEqual(toldOf(agent, recorders[1].pid), [true, false]);
      assert.deepEqual(toldOf(agent, recorders[2].pid), [true]);
      await session.stopProcess(recorders[2].child);
      await agent.waitForMessage(micOf(recorders[2].pid, false), { what: 'the last capture stopping' });
    } finally {
      if (stopped) process.kill(agent.child.pid, 'SIGCONT');
      for (const r of recorders) await session.stopProcess(r.child);
      await session.stopProcess(agent.child);
    }
  });
});

describe('owning applications by desktop id', { skip: inApplicationScope() && 'this test process runs inside an application scope' }, () => {
  let session;
  let entry;
  let dictation;
  before(async () => {
    session = await startSession({ name: 'apps' });
    await startAudio(session);
    const applications = path.join(session.env.XDG_DATA_HOME, 'applications');
    mkdirSync(applications, { recursive: true });
    // An application found by its executable: a copy of the recorder under a
    // name of its own, which its desktop entry runs.
    const bin = path.join(session.dir, 'bin');
    mkdirSync(bin);
    copyFileSync('/usr/bin/pw-cat', path.join(bin, 'tondrel-recorder'));
    writeFileSync(path.join(applications, 'com.example.Recorder.desktop'),
      '[Desktop Entry]\nType=Application\nName=Recorder\nExec=env LANG=C tondrel-recorder --record %f\n');
    // A second entry that runs the same program: only the launch variable
    // tells it apart.
    dictation = path.join(applications, 'org.example.Dictation.desktop');
    writeFileSync(dictation, '[Desktop Entry]\nType=Application\nName=Dictation\nName[de]=Diktat\n'
      + 'Exec=tondrel-recorder --record --dictate %f\n');
    // An application that runs a recorder as its child: a copy of a shell
    // under a name of its own.
    copyFileSync('/bin/dash', path.join(bin, 'meeting'));
    entry = path.join(applications, 'org.example.Meeting.desktop');
    writeFileSync(entry, '[Desktop Entry]\nType=Application\nName=Meeting\nName[de]=Besprechung\n'
      + `Exec=${path.join(bin, 'meeting')} %U\n`);
  });
  after(async () => {
    await session?.stop();
  });

  test('the launched desktop file names the application, in the agent\'s language', async () => {
    const agent = await startAgent(session, { env: { LANG: 'de_DE.UTF-8' } });
    try {
      const app = record(session, { command: path.join(session.dir, 'bin', 'tondrel-recorder'),
        args: ['--record'], env: { GIO_LAUNCHED_DESKTOP_FILE: dictation } });
      const [event] = await agent.waitForMessage(micOf(app.pid, true), { what: 'launched application' });
      assert.deepEqual(event, { event: 'mic', running: true, pid: app.pid, appPid: app.pid,
        bundleId: 'org.example.Dictation', appName: 'Diktat' });
      await session.stopProcess(app);
      const [stopped] = await agent.waitForMessage(micOf(app.pid, false), { what: 'application stopping' });
      // The process is gone by then: only its pid is left to report.
      assert.equal(stopped.pid, app.pid);
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('an executable that a desktop entry runs is that application', async () => {
    const agent = await startAgent(session);
    try {
      const app = record(session, { command: path.join(session.dir, 'bin', 'tondrel-recorder'), args: ['--record'] });
      const [event] = await agent.waitForMessage(micOf(app.pid, true), { what: 'recorder application' });
      assert.deepEqual(event, { event: 'mic', running: true, pid: app.pid, appPid: app.pid,
        bundleId: 'com.example.Recorder', appName: 'Recorder' });
      await session.stopProcess(app);
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('a child capturing for its application is attributed to the application', async () => {
    const agent = await startAgent(session);
    try {
      // The application runs the recorder as a child, which inherits the
      // launch environment but is not the application: the variable names
      // the Meeting entry, whose program the recorder is not.
      const file = recordingPath(session, 'child');
      const app = session.spawn(path.join(session.dir, 'bin', 'meeting'), ['-c', 'pw-record "$1" & wait', 'meeting', file],
        { env: { ...session.env, GIO_LAUNCHED_DESKTOP_FILE: entry } });
      const [event] = await agent.waitForMessage((m) => m.event === 'mic' && m.running && m.appPid === app.pid,
        { what: 'child capture' });
      assert.notEqual(event.pid, app.pid);
      assert.equal(parentOf(event.pid), app.pid);
      assert.equal(event.bundleId, 'org.example.Meeting');
      assert.equal(event.appName, 'Meeting');
      await session.stopProcess(app);
      await agent.waitForMessage(micOf(event.pid, false), { what: 'child capture stopping' });
    } finally {
      await session.stopProcess(agent.child);
    }
  });
});

describe('PipeWire going away', () => {
  let session;
  before(async () => {
    session = await startSession({ name: 'restart' });
  });
  after(async () => {
    await session?.stop();
  });

  test('without PipeWire the agent starts, answers commands and writes no mic event; a PipeWire started later is found', async () => {
    const agent = await startAgent(session);
    let audio;
    try {
      assert.deepEqual(agent.messages[0], { event: 'ready', perProcess: true });
      agent.send({ cmd: 'page-urls', id: 5, pid: process.pid });
      const [reply] = await agent.waitForMessage((m) => m.event === 'page-urls', { what: 'page-urls reply' });
      assert.equal(reply.id, 5);
      assert.deepEqual(agent.mics(), []);

      audio = await startAudio(session);
      const recorder = record(session);
      await agent.waitForMessage(micOf(recorder.pid, true), { what: 'a capture once PipeWire is there' });
      await session.stopProcess(recorder);
      await agent.waitForMessage(micOf(recorder.pid, false), { what: 'that capture stopping' });
    } finally {
      await session.stopProcess(agent.child);
      await audio?.stop();
    }
  });

  test('a PipeWire restart costs events, not the agent', async () => {
    let audio = await startAudio(session);
    const agent = await startAgent(session);
    try {
      const before = record(session);
      await agent.waitForMessage(micOf(before.pid, true), { what: 'capture before the restart' });

      await audio.stop();
      await agent.waitForMessage(micOf(before.pid, false), { what: 'capture gone with PipeWire' });
      await session.stopProcess(before);

      audio = await startAudio(session);
      const afterRestart = record(session);
      await agent.waitForMessage(micOf(afterRestart.pid, true), { timeoutMs: 20000, what: 'capture after the restart' });
      assert.ok(agent.alive);
      await session.stopProcess(afterRestart);
      await agent.waitForMessage(micOf(afterRestart.pid, false), { what: 'capture stopping after the restart' });
    } finally {
      await session.stopProcess(agent.child);
      await audio.stop();
    }
  });
});
