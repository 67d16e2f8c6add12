// The real agent against peers that misbehave: a PipeWire socket and a
// session bus that accept and never answer, an accessibility bus stopped in
// the middle of its work, and accessible applications that come and go.
// Nothing they do may stall the agent's main thread or leave a request
// without its reply.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { startAgent } from './harness/agent.mjs';
import { startBusWithoutServices } from './harness/a11y.mjs';
import { startSilentSocket } from './harness/hostile.mjs';
import { startSession } from './harness/session.mjs';

// How long a page request may take when nothing on the desktop answers at
// once: far below the stalls these tests look for (a second and more), far
// above what a loaded machine adds.
const promptMs = 600;

// Sends page requests one after another for `forMs` and answers how long each
// reply took.
async function replyTimes(agent, forMs, firstId = 1000) {
  const times = [];
  const end = Date.now() + forMs;
  for (let id = firstId; Date.now() < end; id++) {
    const sent = Date.now();
    const from = agent.messages.length;
    agent.send({ cmd: 'page-urls', id, pid: process.pid });
    await agent.waitForMessage((m) => m.event === 'page-urls' && m.id === id,
      { from, timeoutMs: 30000, what: `reply ${id}` });
    times.push(Date.now() - sent);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return times;
}

describe('a PipeWire socket that accepts and never answers', () => {
  let session;
  let silent;
  let bus;
  before(async () => {
    session = await startSession({ name: 'silent-pipewire' });
    silent = await startSilentSocket(path.join(session.dir, 'silent-pipewire'));
    // Page requests then fail at once instead of starting an accessibility
    // bus, so their replies time the main thread alone.
    bus = await startBusWithoutServices(session);
  });
  after(async () => {
    await silent?.stop();
    await session?.stop();
  });

  test('ready comes at once and the main loop never waits for it, across reconnections', async () => {
    const started = Date.now();
    const agent = await startAgent(session,
      { env: { PIPEWIRE_REMOTE: silent.path, DBUS_SESSION_BUS_ADDRESS: bus.address } });
    try {
      const readyMs = Date.now() - started;
      // Long enough for the first attempt to be given up and two more made.
      const times = await replyTimes(agent, 6000);
      assert.ok(silent.accepted >= 2, `${silent.accepted} connection attempts`);
      assert.ok(readyMs < promptMs * 2, `ready after ${readyMs} ms`);
      assert.ok(Math.max(...times) < promptMs, `replies took up to ${Math.max(...times)} ms: ${times}`);
      assert.deepEqual(agent.mics(), []);
      assert.ok(agent.alive);
    } finally {
      await session.stopProcess(agent.child);
    }
  });
});
