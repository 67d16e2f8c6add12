// Starts a private desktop session with Firefox ESR showing two windows,
// with accessibility on, and runs the walk benchmark against it:
//   node tests/bench/linux/atspi_walk.mjs BENCH_BINARY [ROUNDS]
import { spawnSync } from 'node:child_process';

import { setAccessibilityEnabled, startAccessibilityBus } from '../../support/services/a11y.mjs';
import { startFirefox, writePages } from '../../support/services/browsers.mjs';
import { startDisplay } from '../../support/services/display.mjs';
import { startSession } from '../../support/services/session.mjs';

const [binary, rounds = '21'] = process.argv.slice(2);
const session = await startSession({ name: 'bench-walk' });
let status = 1;
try {
  await startDisplay(session);
  await startAccessibilityBus(session);
  await setAccessibilityEnabled(session, true);
  const pages = writePages(session, ['Bench one', 'Bench two']);
  const firefox = await startFirefox(session, { windows: pages });
  // The tree is complete once a walk finds both pages.
  await session.waitFor(() => spawnSync(binary, [String(firefox.pid), '1'],
    { env: session.env, stdio: 'ignore' }).status === 0,
  { timeoutMs: 60000, intervalMs: 500, what: 'both pages on the accessibility bus' });
  const run = spawnSync(binary, [String(firefox.pid), rounds],
    { env: session.env, stdio: ['ignore', 'inherit', 'inherit'] });
  status = run.status ?? 1;
} finally {
  await session.stop();
}
process.exit(status);
