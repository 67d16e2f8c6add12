// The harness itself: a session and a display come up ready, are private, and
// leave nothing behind, also when the test process dies without stopping them.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { startDisplay } from '../support/services/display.mjs';
import { startSession } from '../support/services/session.mjs';

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

async function gone(pids, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  while (pids.some(alive)) {
    if (Date.now() > deadline) return false;
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
  return true;
}

test('a session with a display answers on its own bus and display, and stops everything', async () => {
  const session = await startSession({ name: 'harness' });
  let pids = [];
  try {
    assert.match(session.env.DBUS_SESSION_BUS_ADDRESS, new RegExp(`^unix:path=${session.dir}`));
    assert.notEqual(session.env.DBUS_SESSION_BUS_ADDRESS, process.env.DBUS_SESSION_BUS_ADDRESS);
    const names = await session.run('dbus-send', ['--session', '--print-reply',
      '--dest=org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus.ListNames']);
    assert.equal(names.code, 0, names.stderr);

    const { display } = await startDisplay(session);
    assert.equal(session.env.DISPLAY, display);
    assert.notEqual(display, process.env.DISPLAY);
    const info = await session.run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']);
    assert.match(info.stdout, /window id #/);

    pids = session.livePids();
    assert.equal(pids.length, 3, 'bus, Xvfb and the window manager');
  } finally {
    await session.stop();
  }
  assert.ok(await gone(pids), `still running: ${pids.filter(alive)}`);
  assert.equal(existsSync(session.dir), false);
});

test('waitFor answers the value and names what it waited for on a timeout', async () => {
  const session = await startSession({ name: 'wait' });
  try {
    let calls = 0;
    assert.equal(await session.waitFor(() => (++calls >= 3 ? 'ready' : null)), 'ready');
    await assert.rejects(session.waitFor(() => false, { timeoutMs: 100, what: 'the impossible' }),
      /the impossible/);
    // A fatal error ends the wait at once instead of at the deadline.
    const started = Date.now();
    await assert.rejects(session.waitFor(() => {
      throw Object.assign(new Error('it ended'), { fatal: true });
    }, { timeoutMs: 60000 }), /it ended/);
    assert.ok(Date.now() - started < 30000);
  } finally {
    await session.stop();
  }
});

test('the watchdog stops the processes of a test process that was killed', async () => {
  // A child test process starts a session and a long-running process, prints
  // their pids and folder, then is killed without a chance to clean up.
  const script = `
    import { startSession } from ${JSON.stringify(fileURLToPath(new URL('../support/services/session.mjs', import.meta.url)))};
    const session = await startSession({ name: 'orphan' });
    const sleeper = session.spawn('sleep', ['600']);
    console.log(JSON.stringify({ pids: session.livePids(), dir: session.dir }));
    setInterval(() => {}, 1000);
  `;
  const child = spawn(process.execPath, ['--input-type=module', '-e', script],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const line = await new Promise((resolve, reject) => {
    let text = '';
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) resolve(text.slice(0, text.indexOf('\n')));
    });
    child.once('exit', () => reject(new Error('child ended early')));
  });
  const { pids, dir } = JSON.parse(line);
  assert.equal(pids.length, 2);
  assert.ok(pids.every(alive));
  child.kill('SIGKILL');
  assert.ok(await gone(pids), `left running: ${pids.filter(alive)}`);
  const deadline = Date.now() + 10000;
  while (existsSync(dir) && Date.now() < deadline) await new Promise((r) => setTimeout(r, 25));
  assert.equal(existsSync(dir), false);
});
