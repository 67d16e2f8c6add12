// A stand-in agent for the failures the real one cannot be made to show on
// demand: replies out of order, dying mid-request, junk on its output,
// ignoring the end of its input. It speaks the same lines as the agent.
//
// One argument, a JSON object of options:
//   ready      the ready line's perProcess, or null for no ready line (default true)
//   lines      raw lines written right after ready; { padTo: N } instead of a
//              string is an unknown event padded to exactly N characters
//   echoLines  write {"event":"received","line":...} for every line read
//   batch      hold replies until this many commands are in, then answer
//              them newest first (default 1: answer each as it comes)
//   delayMs    wait this long before each reply or batch of replies
//   trusted    the replies' trusted (default true); urls is always
//              [the command line as received], so a test can tell replies apart
//   trustedFrom  trusted only from this command on (counting from 1), as
//              after the user granted the permission meanwhile
//   startsFile, trustedFromStart  count each start in the file startsFile;
//              trusted from the trustedFromStart-th start on
//   dieAfter   after this many commands, end without answering them,
//              with exit status dieCode or by signal dieSignal
//   exitAfterReplies  exit with status 0 straight after writing this many replies
//   handOffMs  at the first command, leave the reply to a process of its own
//              that holds the output, exit with status 0, and have the reply
//              written this much later
//   ignoreEof  keep running after standard input ends
//   closeOutputAfter  after this many commands, close standard output and stay alive
//   trickle    write every line one byte at a time
//   exitCode   status at the end of input (default 0)
//   exitAfterMs  exit with status exitCode this long after the start, unasked
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import readline from 'node:readline';

const options = JSON.parse(process.argv[2] ?? '{}');
const { batch = 1, delayMs = 0, trusted = true } = options;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
let start = 0;
if (options.startsFile) {
  fs.appendFileSync(options.startsFile, 'started\n');
  start = fs.readFileSync(options.startsFile, 'utf8').split('\n').length - 1;
}

// A line of exactly `length` characters: {"event":"padded","x":"xxx…"}.
const padded = (length) => {
  const frame = '{"event":"padded","x":""}';
  return `${frame.slice(0, -2)}${'x'.repeat(Math.max(0, length - frame.length))}"}`;
};

// Standard output may be a non-blocking pipe; a long line needs retries.
function writeAll(bytes) {
  for (let offset = 0; offset < bytes.length;) {
    try {
      offset += fs.writeSync(1, bytes, offset);
    } catch (error) {
      if (error.code !== 'EAGAIN') throw error;
      Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 1);
    }
  }
}

let writing = Promise.resolve();
function write(line) {
  const bytes = Buffer.from(`${line}\n`);
  if (!options.trickle) {
    writeAll(bytes);
    return;
  }
  writing = writing.then(async () => {
    for (const byte of bytes) {
      fs.writeSync(1, Buffer.of(byte));
      await sleep(1);
    }
  });
}

if (options.ready !== null) write(JSON.stringify({ event: 'ready', perProcess: options.ready ?? true }));
for (const line of options.lines ?? []) write(typeof line === 'string' ? line : padded(line.padTo));

if (options.exitAfterMs !== undefined) {
  setTimeout(() => writing.then(() => process.exit(options.exitCode ?? 0)), options.exitAfterMs);
}

let held = [];
let commands = 0;
const input = readline.createInterface({ input: process.stdin });
input.on('line', async (line) => {
  if (options.echoLines) write(JSON.stringify({ event: 'received', line }));
  let command;
  try {
    command = JSON.parse(line);
  } catch {
    return;
  }
  if (command?.cmd !== 'page-urls') return;
  commands += 1;
  if (commands === options.dieAfter) {
    if (options.dieSignal) process.kill(process.pid, options.dieSignal);
    else process.exit(options.dieCode ?? 1);
    return;
  }
  if (options.handOffMs !== undefined) {
    // The helper says when it is running, so that the agent's exit and the
    // reply are apart by handOffMs and not by however long a start takes.
    const reply = `${JSON.stringify({ event: 'page-urls', id: command.id, trusted, urls: [line] })}\n`;
    const helper = `process.stderr.write('up\\n');
      setTimeout(() => { try { require('fs').writeSync(1, ${JSON.stringify(reply)}); } catch {} }, ${options.handOffMs});`;
    const child = spawn(process.execPath, ['-e', helper], { stdio: ['ignore', 'inherit', 'pipe'] });
    child.stderr.once('data', () => process.exit(0));
    return;
  }
  if (commands === options.closeOutputAfter) {
    fs.closeSync(1);
    setInterval(() => {}, 1000);
    return;
  }
  const granted = options.trustedFromStart !== undefined ? start >= options.trustedFromStart
    : options.trustedFrom !== undefined ? commands >= options.trustedFrom : trusted;
  held.push({ event: 'page-urls', id: command.id, trusted: granted, urls: granted ? [line] : [] });
  if (held.length < batch) return;
  const replies = held.reverse();
  held = [];
  if (delayMs) await sleep(delayMs);
  for (const reply of replies) write(JSON.stringify(reply));
  if (commands === options.exitAfterReplies) process.exit(0);
});
input.on('close', async () => {
  if (options.ignoreEof) {
    setInterval(() => {}, 1000);
    return;
  }
  await writing;
  process.exit(options.exitCode ?? 0);
});
