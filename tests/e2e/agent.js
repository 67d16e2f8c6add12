'use strict';

// Drives an agent binary the way a host does: spawn it, write command lines to
// its standard input, read its standard output line by line with readline.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const assert = require('node:assert/strict');

const tondrel = process.env.TONDREL;
const tondrelSim = process.env.TONDREL_SIM;
assert.ok(tondrel, 'TONDREL must name the built tondrel');
assert.ok(tondrelSim, 'TONDREL_SIM must name the built tondrel-sim');

const examples = path.join(__dirname, '..', '..', 'examples');
const scenarios = path.join(__dirname, 'scenarios');

// How long a test waits for something that should come before it gives up.
// Generous, since a loaded machine runs the sanitizer builds slowly; the
// tests never judge speed by it.
const patience = 30000;

const made = [];
process.on('exit', () => {
  for (const dir of made) fs.rmSync(dir, { recursive: true, force: true });
});

// A fresh folder for trace and scenario files, removed when the test file ends.
function tempDir() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tondrel-e2e-'));
  made.push(dir);
  return dir;
}

class Agent {
  constructor(binary, args = [], env = undefined) {
    this.child = spawn(binary, args, { stdio: ['pipe', 'pipe', 'pipe'], env });
    this.lines = [];
    this.messages = [];
    this.stderr = '';
    this.waiters = [];
    this.child.stderr.setEncoding('utf8');
    this.child.stderr.on('data', (text) => { this.stderr += text; });
    // Writes to an agent that has gone are expected in some tests.
    this.child.stdin.on('error', () => {});
    this.exit = new Promise((resolve) => {
      this.child.on('exit', (code, signal) => resolve({ code, signal }));
    });
    this.reader = readline.createInterface({ input: this.child.stdout, crlfDelay: Infinity });
    this.reader.on('line', (line) => {
      this.lines.push(line);
      let message;
      try {
        message = JSON.parse(line);
      } catch {
        message = { unparsable: line };
      }
      this.messages.push(message);
      this.wake();
    });
    this.outputEnded = false;
    this.closed = new Promise((resolve) => this.reader.on('close', resolve));
    this.reader.on('close', () => {
      this.outputEnded = true;
      this.wake();
    });
  }

  // Starts tondrel-sim on a scenario file, with the options given.
  static sim(scenario, { speed = 20, trace, env } = {}) {
    const args = ['--speed', String(speed)];
    if (trace) args.push('--trace', trace);
    args.push(scenario);
    return new Agent(tondrelSim, args, env);
  }

  static plain() {
    return new Agent(tondrel);
  }

  send(command) {
    this.write(`${typeof command === 'string' ? command : JSON.stringify(command)}\n`);
  }

  write(bytes) {
    this.child.stdin.write(bytes);
  }

  end() {
    this.child.stdin.end();
  }

  wake() {
    const waiting = this.waiters;
    this.waiters = [];
    for (const check of waiting) check();
  }

  // Resolves with the first message that satisfies `test`, seen before or
  // after the call; fails when the output ends or patience runs out first.
  waitFor(test, what = 'a matching message') {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        reject(new Error(`no ${what} within ${patience} ms; got:\n${this.lines.join('\n')}\n` +
                         `stderr:\n${this.stderr}`));
      }, patience);
      const check = () => {
        const found = this.messages.find(test);
        if (found) {
          clearTimeout(timer);
          resolve(found);
        } else if (this.outputEnded) {
          clearTimeout(timer);
          reject(new Error(`output ended before ${what}; got:\n${this.lines.join('\n')}\n` +
                           `stderr:\n${this.stderr}`));
        } else {
          this.waiters.push(check);
        }
      };
      check();
    });
  }

  ready() {
    return this.waitFor((m) => m.event === 'ready', 'ready event');
  }

  reply(id) {
    return this.waitFor((m) => m.event === 'page-urls' && m.id === id, `reply ${id}`);
  }

  // Closes the agent's input and answers how it ended, once its output has
  // been read to the end.
  async finish() {
    this.end();
    const ended = await withPatience(this.exit, 'the agent to exit');
    await withPatience(this.closed, 'the agent\'s output to end');
    return ended;
  }

  kill() {
    if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill('SIGKILL');
  }
}

function withPatience(promise, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`waited ${patience} ms for ${what}`)), patience);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// The entries of a trace file, parsed.
function readTrace(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter((l) => l !== '').map((l) => JSON.parse(l));
}

// Resolves once the trace holds at least `count` polls.
async function waitForPolls(file, count) {
  const deadline = Date.now() + patience;
  for (;;) {
    const polls = readTrace(file).filter((e) => e.event === 'poll').length;
    if (polls >= count) return;
    if (Date.now() > deadline) throw new Error(`the trace has ${polls} of ${count} polls`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

// Runs tondrel-sim to completion with nothing on its input; for refusals. One
// that has not ended when patience runs out is killed (and reported so by its
// signal).
function runSim(args) {
  return new Promise((resolve) => {
    const child = spawn(tondrelSim, args, { stdio: ['pipe', 'pipe', 'pipe'] });
    const timer = setTimeout(() => child.kill('SIGKILL'), patience);
    let stdout = '';
    let stderr = '';
    child.stdout.setEncoding('utf8').on('data', (t) => { stdout += t; });
    child.stderr.setEncoding('utf8').on('data', (t) => { stderr += t; });
    child.stdin.on('error', () => {});
    child.stdin.end();
    child.on('close', (code, signal) => {
      clearTimeout(timer);
      resolve({ code, signal, stdout, stderr });
    });
  });
}

module.exports = {
  Agent, examples, scenarios, tempDir, readTrace, waitForPolls, runSim, tondrel, tondrelSim,
  withPatience,
};
