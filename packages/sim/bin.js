#!/usr/bin/env node
'use strict';

// `npx tondrel-sim [--speed F] [--trace FILE] SCENARIO.json`: runs the
// runner of this system with the same standard input, output and error, and
// ends as it ended.

const { spawn } = require('child_process');
const { findSim } = require('./index.js');

let program;
try {
  program = findSim();
} catch (error) {
  console.error(`tondrel-sim: ${error.message}`);
  process.exit(2);
}
const child = spawn(program, process.argv.slice(2), { stdio: 'inherit' });
// The host's signals are the runner's to act on; this process just waits.
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(signal, () => child.kill(signal));
child.on('error', (error) => {
  console.error(`tondrel-sim: ${error.message}`);
  process.exit(2);
});
child.on('exit', (code, signal) => {
  if (signal) {
    process.removeAllListeners(signal);
    process.kill(process.pid, signal);
  } else {
    process.exit(code);
  }
});
