// What the real agent costs beside a running PipeWire, from the kernel's own
// accounting of its threads' CPU time (/proc/PID/task/*/schedstat, in ns):
//   - a quiet poll with 20 capture streams running: the agent's CPU time over
//     a window divided by the polls in it (one a second);
//   - an idle agent (no capture) over a longer window, as a share of one core.
// Usage: node tests/bench/linux/pipewire_agent.mjs [IDLE_SECONDS=60] [QUIET_SECONDS=20]
// with TONDREL naming the agent (scripts/bench passes the release build's).
import { readFileSync, readdirSync } from 'node:fs';

import { startAgent } from '../../linux/harness/agent.mjs';
import { recordingPath, startAudio, waitForCapture } from '../../linux/harness/audio.mjs';
import { startSession } from '../../linux/harness/session.mjs';

const idleSeconds = Number(process.argv[2] ?? 60);
const quietSeconds = Number(process.argv[3] ?? 20);
const streamCount = 20;

function cpuNs(pid) {
  let total = 0;
  for (const task of readdirSync(`/proc/${pid}/task`)) {
    try {
      total += Number(readFileSync(`/proc/${pid}/task/${task}/schedstat`, 'utf8').split(' ')[0]);
    } catch {
      // A thread that ended between the listing and the read.
    }
  }
  return total;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function window(pid, seconds) {
  const startCpu = cpuNs(pid);
  const start = process.hrtime.bigint();
  await sleep(seconds * 1000);
  const wall = Number(process.hrtime.bigint() - start) / 1e9;
  return { cpu: cpuNs(pid) - startCpu, wall };
}

const session = await startSession({ name: 'bench' });
try {
  await startAudio(session);
  const agent = await startAgent(session);
  const recorders = [];
  for (let i = 0; i < streamCount; i++) {
    recorders.push(session.spawn('pw-record', [recordingPath(session, `bench-${i}`)]));
  }
  for (const r of recorders) await waitForCapture(session, r.pid);
  await agent.waitForMessage(() => agent.mics().filter((m) => m.running).length === streamCount,
    { what: `${streamCount} captures reported` });
  await sleep(2000);

  const before = agent.mics().length;
  const quiet = await window(agent.child.pid, quietSeconds);
  if (agent.mics().length !== before) throw new Error('the polls were not quiet');
  const polls = quiet.wall;  // one poll a second
  console.log(`quiet poll, ${streamCount} capture streams: ${(quiet.cpu / polls / 1000).toFixed(1)} µs of agent CPU per poll` +
    ` (${(quiet.cpu / 1e6).toFixed(2)} ms over ${quiet.wall.toFixed(1)} s; target at most 100 µs)`);

  for (const r of recorders) await session.stopProcess(r);
  await agent.waitForMessage(() => agent.mics().filter((m) => !m.running).length === streamCount,
    { what: 'every capture stopped' });
  await sleep(2000);
  const idle = await window(agent.child.pid, idleSeconds);
  console.log(`idle agent beside PipeWire: ${(idle.cpu / idle.wall / 1e9 * 100).toFixed(4)} % of a core` +
    ` (${(idle.cpu / 1e6).toFixed(2)} ms over ${idle.wall.toFixed(1)} s; target under 0.1 %)`);
} finally {
  await session.stop();
}
