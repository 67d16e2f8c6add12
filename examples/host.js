#!/usr/bin/env node
'use strict';

// A small host: starts the agent the way an application would, sends one
// page-urls request once the agent is ready, prints every line in both
// directions, and after a while closes the agent's input so it exits.
//
//   node examples/host.js [--speed F] [--seconds S] [--bundle-id ID] AGENT SCENARIO.json
//
// AGENT is tondrel-sim; the scenario and --speed are passed on to it.

const { spawn } = require('node:child_process');
const readline = require('node:readline');

function usage(message) {
  if (message) console.error(`host.js: ${message}`);
  console.error('usage: host.js [--speed F] [--seconds S] [--bundle-id ID] AGENT SCENARIO.json');
  process.exit(2);
}

const options = { speed: '4', seconds: 3, bundleId: 'org.example.browser' };
const positional = [];
const args = process.argv.slice(2);
for (let i = 0; i < args.length; i++) {
  const arg = args[i];
  const value = () => (i + 1 < args.length ? args[++i] : usage(`${arg} needs a value`));
  if (arg === '--speed') options.speed = value();
  else if (arg === '--seconds') options.seconds = Number(value());
  else if (arg === '--bundle-id') options.bundleId = value();
  else if (arg.startsWith('--')) usage(`unknown option ${arg}`);
  else positional.push(arg);
}
if (positional.length !== 2) usage('expected AGENT and SCENARIO.json');
if (!(options.seconds > 0)) usage('--seconds expects a number greater than 0');
const [agent, scenario] = positional;

console.log(`host: starting ${agent} --speed ${options.speed} ${scenario}`);
const child = spawn(agent, ['--speed', options.speed, scenario], {
  stdio: ['pipe', 'pipe', 'inherit'],
});
child.on('error', (error) => {
  console.error(`host: cannot start ${agent}: ${error.message}`);
  process.exit(1);
});

function send(command) {
  const line = JSON.stringify(command);
  console.log(`host → ${line}`);
  child.stdin.write(`${line}\n`);
}

const lines = readline.createInterface({ input: child.stdout, crlfDelay: Infinity });
lines.on('line', (line) => {
  console.log(`host ← ${line}`);
  let message;
  try {
    message = JSON.parse(line);
  } catch {
    console.error('host: the agent wrote a line that is not JSON');
    process.exitCode = 1;
    return;
  }
  if (message.event === 'ready') {
    send({ cmd: 'page-urls', id: 1, bundleIds: [options.bundleId] });
  } else if (message.event === 'page-urls') {
    console.log(`host: request ${message.id} found ${message.urls.length} page(s):`);
    for (const url of message.urls) console.log(`host:   ${url}`);
  } else if (message.event === 'mic') {
    const who = message.pid === null ? 'the default input device'
      : `pid ${message.pid}` + (message.appPid === null ? ''
        : ` of ${message.appName ?? message.bundleId} (pid ${message.appPid})`);
    console.log(`host: microphone ${message.running ? 'started' : 'stopped'} by ${who}`);
  }
});

// The agent runs until its input ends; the host decides when that is.
const timer = setTimeout(() => {
  console.log('host: closing the agent\'s input');
  child.stdin.end();
}, options.seconds * 1000);

child.on('exit', (code, signal) => {
  clearTimeout(timer);
  const how = signal ? `signal ${signal}` : `status ${code}`;
  console.log(`host: the agent exited with ${how}`);
  if (code !== 0) process.exitCode = 1;
});
