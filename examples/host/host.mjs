#!/usr/bin/env node
// A host application's side of the agent, written with the client package:
// start the agent, wait for ready, ask for the pages of a browser, report
// the first microphone event, then shut the agent down cleanly.
//
//   node examples/host/host.mjs AGENT [SCENARIO.json]
//
// AGENT is tondrel-sim (for example build/debug/tools/tondrel-sim/tondrel-sim),
// which runs the real agent against the simulated Mac of the scenario; the
// default scenario is the one beside this file. With the real agent on a Mac,
// start it without arguments instead.

import { fileURLToPath } from 'node:url';

// In an application this is `import { startAgent } from '@tondrel/client'`.
import { startAgent } from '../../client/index.js';

const [agentPath, scenario = fileURLToPath(new URL('./scenario.json', import.meta.url))] =
  process.argv.slice(2);
if (!agentPath) {
  console.error('usage: host.mjs AGENT [SCENARIO.json]');
  process.exit(2);
}

const agent = startAgent(agentPath, { args: ['--speed', '4', scenario] });

agent.on('error', (error) => console.error(`agent: ${error.code}: ${error.message}`));
agent.on('exit', ({ code, signal }) => {
  console.log(signal ? `agent killed by ${signal}` : `agent exited with code ${code}`);
});

// An application quitting, or a terminal's Ctrl-C: end the agent first.
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.once(signal, () => {
    agent.close({ timeout: 2000 }).then(() => process.exit(130));
  });
}

function describeMic({ running, pid, appPid, bundleId, appName }) {
  const verb = running ? 'started' : 'stopped';
  if (pid === null) return `microphone input ${verb} on the default input device`;
  const owner = appPid === null ? '' : ` of ${appName ?? bundleId} (${bundleId}, pid ${appPid})`;
  return `microphone input ${verb} by pid ${pid}${owner}`;
}

// Register before anything is awaited: events are not replayed.
const firstMic = new Promise((resolve) => agent.once('mic', resolve));

try {
  const { perProcess } = await agent.ready;
  console.log(`ready: ${perProcess ? 'per-process' : 'default-device'} microphone monitor`);

  const bundleId = 'org.example.browser';
  const { trusted, urls } = await agent.pageUrls({ bundleIds: [bundleId] });
  if (!trusted) {
    console.log(`page-urls for ${bundleId}: no Accessibility permission, nothing read`);
  } else {
    console.log(`page-urls for ${bundleId}: ${urls.length} page(s)`);
    for (const url of urls) console.log(`  ${url}`);
  }

  const timeout = new Promise((resolve) => setTimeout(resolve, 10_000, null).unref());
  const mic = await Promise.race([firstMic, timeout]);
  console.log(mic ? describeMic(mic) : 'no microphone event within 10 seconds');
} catch (error) {
  console.error(`host: ${error.message}`);
  process.exitCode = 1;
} finally {
  const { code } = await agent.close();
  if (code !== 0) process.exitCode = 1;
}
