// What the real agent costs beside a running PipeWire, in a private session
// with 20 capture streams running:
//   - one quiet poll of the monitor through the real backend, timed in a
//     process of its own (POLL_BENCH, tondrel_bench_pipewire), beside the
//     same reads made directly;
//   - the running agent's CPU time, from the kernel's accounting of its
//     threads (/proc/PID/task/*/schedstat, in ns): per quiet poll with the 20
//     streams (a window's CPU time over the polls in it, one a second), and
//     idle (no capture) over a longer window, as a share of one core. These
//     include waking up once a second, which on a busy or virtual machine can
//     cost more than the poll itself.
// Usage: node tests/bench/linux/pipewire_agent.mjs POLL_BENCH [IDLE_SECONDS=60] [QUIET_SECONDS=20]
// with TONDREL naming the agent (scripts/bench passes the release build's).
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, readdirSync } from 'node:fs';
import path from 'node:path';

import { startAgent } from '../../support/services/agent.mjs';
import { recordingPath, startAudio, waitForCapture } from '../../support/services/audio.mjs';
import { startSession } from '../../support/services/session.mjs';

const pollBench = process.argv[2];
const idleSeconds = Number(process.argv[3] ?? 60);
const quietSeconds = Number(process.argv[4] ?? 20);
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

// CPU time of each pid over the same window of wall time.
async function window(pids, seconds) {
  const startCpu = pids.map(cpuNs);
  const start = process.hrtime.bigint();
  await sleep(seconds * 1000);
  const wall = Number(process.hrtime.bigint() - start) / 1e9;
  return { cpu: pids.map((pid, i) => cpuNs(pid) - startCpu[i]), wall };
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

  const poll = spawnSync(pollBench, ['2000'], { env: session.env, encoding: 'utf8' });
  process.stdout.write(poll.stdout);
  if (poll.status !== 0) throw new Error(`${pollBench} failed: ${poll.stderr}`);

  await sleep(2000);

  const before = agent.mics().length;
  const quiet = await window([agent.child.pid], quietSeconds);
  if (agent.mics().length !== before) throw new Error('the polls were not quiet');
  const polls = quiet.wall;  // one poll a second
  console.log(`running agent, ${streamCount} capture streams: ${(quiet.cpu[0] / polls / 1000).toFixed(1)} µs of CPU per quiet poll` +
    ` (${(quiet.cpu[0] / 1e6).toFixed(2)} ms over ${quiet.wall.toFixed(1)} s)`);

  for (const r of recorders) await session.stopProcess(r);
  await agent.waitForMessage(() => agent.mics().filter((m) => !m.running).length === streamCount,
    { what: 'every capture stopped' });
  // The baseline: the same agent where no PipeWire can be found, idle over
  // the same window, so both wake once a second on the same busy machine.
  const nowhere = path.join(session.dir, 'no-pipewire');
  mkdirSync(nowhere, { mode: 0o700 });
  const alone = await startAgent(session, { env: { XDG_RUNTIME_DIR: nowhere } });
  await sleep(2000);
  const idle = await window([agent.child.pid, alone.child.pid], idleSeconds);
  const share = (ns) => (ns / idle.wall / 1e9 * 100).toFixed(4);
  console.log(`idle agent beside PipeWire: ${share(idle.cpu[0])} % of a core` +
    ` (${(idle.cpu[0] / 1e6).toFixed(2)} ms over ${idle.wall.toFixed(1)} s; target under 0.1 %);` +
    ` the same agent without PipeWire: ${share(idle.cpu[1])} %`);
} finally {
  await session.stop();
}
