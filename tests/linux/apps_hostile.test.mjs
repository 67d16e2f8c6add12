// What a hostile desktop costs the real agent's application lookups: a FIFO
// named as the launched desktop file, a process naming another
// application's desktop file, a folder of 50,000 entries that never stops
// changing, and an X server that stops answering. The agent must go on
// reporting captures and answering requests, and end with its input.
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync, readFileSync, utimesSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { startAudio } from '../support/services/audio.mjs';
import { startDisplay } from '../support/services/display.mjs';
import { startAgent } from '../support/services/page_requests.mjs';
import { hasEnded, startSession } from '../support/services/session.mjs';

// Under a desktop that puts its applications in cgroup scopes, everything
// this test starts already belongs to the application it runs in.
function inApplicationScope() {
  try {
    return /\/app-[^/]*\.(scope|service)$/m.test(readFileSync('/proc/self/cgroup', 'utf8'));
  } catch {
    return false;
  }
}

describe('a hostile desktop', { skip: inApplicationScope() && 'this test process runs inside an application scope' }, () => {
  let session;
  let applications;
  before(async () => {
    session = await startSession({ name: 'hostile' });
    await startAudio(session);
    applications = path.join(session.env.XDG_DATA_HOME, 'applications');
    mkdirSync(applications, { recursive: true });
  });
  after(async () => {
    await session?.stop();
  });

  test('a FIFO named as the launched desktop file stalls nothing', async () => {
    // One in the folder the agent reads, one elsewhere; nobody ever writes
    // to either.
    const inside = path.join(applications, 'trap.desktop');
    const outside = path.join(session.dir, 'trap.desktop');
    for (const fifo of [inside, outside]) {
      const made = await session.run('mkfifo', [fifo]);
      assert.equal(made.code, 0, made.stderr);
    }
    const agent = await startAgent(session);
    const recorders = [inside, outside].map((fifo, i) => session.spawn('pw-record',
      [path.join(session.dir, `fifo-${i}.wav`)], { env: { ...session.env, GIO_LAUNCHED_DESKTOP_FILE: fifo } }));
    for (const recorder of recorders) {
      const event = await agent.waitFor((m) => m.event === 'mic' && m.running && m.pid === recorder.pid,
        { what: 'the capture of a process whose variable names a FIFO' });
      assert.equal(event.appPid, null);
    }
    const reply = await agent.request({ bundleIds: ['trap'] });
    assert.deepEqual(reply.urls, []);
    for (const recorder of recorders) await session.stopProcess(recorder);
    for (const recorder of recorders) {
      await agent.waitFor((m) => m.event === 'mic' && !m.running && m.pid === recorder.pid,
        { what: 'the capture stopping' });
    }
    assert.equal((await agent.close()).code, 0, 'the agent ends with its input');
  });

  test('naming another application\'s desktop file makes a process nothing of it', async () => {
    const bank = path.join(applications, 'org.example.Bank.desktop');
    writeFileSync(bank, '[Desktop Entry]\nType=Application\nName=Bank\nExec=/opt/example-bank/bank %u\n');
    const agent = await startAgent(session);
    try {
      for (const named of [bank, '/usr/share/applications/firefox-esr.desktop']) {
        const recorder = session.spawn('pw-record', [path.join(session.dir, 'claim.wav')],
          { env: { ...session.env, GIO_LAUNCHED_DESKTOP_FILE: named } });
        const event = await agent.waitFor((m) => m.event === 'mic' && m.running && m.pid === recorder.pid,
          { what: 'the capture of a process claiming an entry' });
        assert.deepEqual([event.appPid, event.bundleId, event.appName], [null, null, null], named);
        await session.stopProcess(recorder);
      }
    } finally {
      await session.stopProcess(agent.child);
    }
  });

  test('50,000 entries in a folder that changes every 20 ms: the agent keeps answering', async (t) => {
    const bulk = path.join(applications, 'bulk');
    mkdirSync(bulk, { recursive: true });
    for (let i = 0; i < 50000; i++) {
      writeFileSync(path.join(bulk, `org.example.Bulk${i}.desktop`),
        `[Desktop Entry]\nType=Application\nName=Bulk ${i}\nExec=/opt/bulk/bulk${i} %U\n`);
    }
    const recorderEntry = path.join(applications, 'com.example.Churn.desktop');
    const bin = path.join(session.dir, 'bin');
    mkdirSync(bin, { recursive: true });
    copyFileSync('/usr/bin/pw-cat', path.join(bin, 'tondrel-churn'));
    writeFileSync(recorderEntry, '[Desktop Entry]\nType=Application\nName=Churn\n'
      + `Exec=${path.join(bin, 'tondrel-churn')} --record %f\n`);
    let touches = 0;
    const toucher = setInterval(() => {
      const now = new Date();
      utimesSync(bulk, now, now);
      utimesSync(applications, now, now);
      touches++;
    }, 20);
    const agent = await startAgent(session);
    try {
      const times = [];
      for (let i = 0; i < 10; i++) {
        const reply = await agent.request({ bundleIds: ['com.example.Churn', `org.example.Bulk${i * 4999}`] },
          { timeoutMs: 120000 });
        assert.deepEqual(reply.urls, []);
        times.push(Math.round(reply.tookMs));
      }
      t.diagnostic(`bundleIds replies took ${times.join(', ')} ms while the folders were touched ${touches} times`);
      // The entry is found among the 50,000 once the first reading is done,
      // and mic events keep coming while the folders change. A capture
      // reported before the first reading is complete names nothing, so
      // captures are started until one names the application.
      let found = null;
      const deadline = Date.now() + 120000;
      for (let attempt = 1; !found; attempt++) {
        const recorder = session.spawn(path.join(bin, 'tondrel-churn'),
          ['--record', path.join(session.dir, `churn-${attempt}.wav`)]);
        const event = await agent.waitFor((m) => m.event === 'mic' && m.running && m.pid === recorder.pid,
          { timeoutMs: 120000, what: 'the capture while the folders change' });
        await session.stopProcess(recorder);
        await agent.waitFor((m) => m.event === 'mic' && !m.running && m.pid === recorder.pid,
          { timeoutMs: 120000, what: 'the capture stopping' });
        if (event.bundleId !== null) {
          found = event;
          t.diagnostic(`named by capture ${attempt}`);
        } else if (Date.now() > deadline) {
          assert.fail('no capture named the application within two minutes');
        }
      }
      assert.equal(found.bundleId, 'com.example.Churn');
      assert.equal((await agent.close({ timeoutMs: 60000 })).code, 0);
    } finally {
      clearInterval(toucher);
      await session.stopProcess(agent.child);
    }
  });
});

describe('an X server that stops answering', { skip: inApplicationScope() && 'this test process runs inside an application scope' }, () => {
  let session;
  let xvfb;
  before(async () => {
    session = await startSession({ name: 'x-stopped' });
    await startDisplay(session, { windowManager: false });
    xvfb = session.livePids().find((pid) => readFileSync(`/proc/${pid}/comm`, 'utf8').trim() === 'Xvfb');
    assert.ok(xvfb, 'the display server runs');
    await startAudio(session);
  });
  after(async () => {
    if (xvfb) process.kill(xvfb, 'SIGCONT');
    await session?.stop();
  });

  const captureWith = (agent) => async (name) => {
    const started = performance.now();
    const recorder = session.spawn('pw-record', [path.join(session.dir, `${name}.wav`)]);
    const event = await agent.waitFor((m) => m.event === 'mic' && m.running && m.pid === recorder.pid,
      { timeoutMs: 30000, what: `the ${name} capture` });
    assert.equal(event.appPid, null);
    await session.stopProcess(recorder);
    await agent.waitFor((m) => m.event === 'mic' && !m.running && m.pid === recorder.pid,
      { timeoutMs: 30000, what: `the ${name} capture stopping` });
    return Math.round(event.receivedAt - started);
  };

  test('a server stopped before the agent first asks it: captures are reported, the agent ends', async (t) => {
    process.kill(xvfb, 'SIGSTOP');
    let agent;
    try {
      agent = await startAgent(session);
      const capture = captureWith(agent);
      const times = [];
      for (const name of ['never-1', 'never-2']) times.push(await capture(name));
      t.diagnostic(`capture to event: ${times.join(', ')} ms with the server stopped from the start`);
      assert.equal((await agent.close()).code, 0, 'the agent ends with its input');
    } finally {
      process.kill(xvfb, 'SIGCONT');
      if (agent && !hasEnded(agent.child)) await session.stopProcess(agent.child);
    }
  });

  test('captures are still reported, and the agent ends with its input', async (t) => {
    const agent = await startAgent(session);
    const capture = captureWith(agent);
    // The agent connects to the server while it answers, then the server
    // stops (it still accepts connections, as the kernel queues them).
    const before = await capture('answered');
    process.kill(xvfb, 'SIGSTOP');
    try {
      const during = [];
      for (const name of ['stopped-1', 'stopped-2', 'stopped-3']) during.push(await capture(name));
      t.diagnostic(`capture to event: ${before} ms with the server answering, ${during.join(', ')} ms with it stopped`);
      assert.equal((await agent.close()).code, 0, 'the agent ends with its input');
    } finally {
      process.kill(xvfb, 'SIGCONT');
      if (!hasEnded(agent.child)) await session.stopProcess(agent.child);
    }
  });
});
