// The real agent in a test session, asked for page URLs as a host asks:
// page-urls commands on its standard input, replies matched by id and timed.
import readline from 'node:readline';

import { hasEnded } from './session.mjs';

export class Agent {
  #next = 1;
  #waiters = [];

  constructor(child) {
    this.child = child;
    this.messages = [];
    this.exit = new Promise((resolve) => {
      if (hasEnded(child)) {
        resolve({ code: child.exitCode, signal: child.signalCode });
      } else {
        child.once('exit', (code, signal) => resolve({ code, signal }));
      }
    });
    child.stdin.on('error', () => {});
    const lines = readline.createInterface({ input: child.stdout, crlfDelay: Infinity });
    lines.on('line', (line) => {
      const message = JSON.parse(line);
      message.receivedAt = performance.now();
      this.messages.push(message);
      this.#wake();
    });
    lines.on('close', () => {
      this.ended = true;
      this.#wake();
    });
  }

  #wake() {
    for (const waiter of this.#waiters.splice(0)) waiter();
  }

  // The first message that satisfies `match`, waiting for it if need be.
  async waitFor(match, { timeoutMs = 60000, what = 'a message' } = {}) {
    const deadline = performance.now() + timeoutMs;
    for (;;) {
      const found = this.messages.find(match);
      if (found) return found;
      if (this.ended) throw new Error(`the agent ended before ${what}: ${this.child.stderrTail ?? ''}`);
      const left = deadline - performance.now();
      if (left <= 0) throw new Error(`no ${what} within ${timeoutMs} ms`);
      await new Promise((resolve) => {
        const timer = setTimeout(resolve, left);
        this.#waiters.push(() => {
          clearTimeout(timer);
          resolve();
        });
      });
    }
  }

  // Sends a page-urls command without waiting; answers its id and when it
  // was sent.
  send(fields) {
    const id = this.#next++;
    this.child.stdin.write(`${JSON.stringify({ cmd: 'page-urls', id, ...fields })}\n`);
    return { id, sentAt: performance.now() };
  }

  // Sends a page-urls command and answers its reply, with `tookMs` from the
  // write to the reply's arrival.
  async request(fields, options = {}) {
    const { id, sentAt } = this.send(fields);
    const reply = await this.answer(id, options);
    return { ...reply, tookMs: reply.receivedAt - sentAt };
  }

  answer(id, options = {}) {
    return this.waitFor((m) => m.event === 'page-urls' && m.id === id,
      { what: `the reply to request ${id}`, ...options });
  }

  // Ends the agent the way a host does, by closing its input.
  async close({ timeoutMs = 30000 } = {}) {
    this.child.stdin.end();
    // The child is not referenced by the event loop (the session owns it), so
    // the timer also keeps this wait alive.
    let timer;
    const late = new Promise((resolve, reject) => {
      timer = setTimeout(() => reject(new Error(`the agent did not exit within ${timeoutMs} ms`)),
        timeoutMs);
    });
    try {
      return await Promise.race([this.exit, late]);
    } finally {
      clearTimeout(timer);
    }
  }
}

// Starts `tondrel` (the TONDREL environment variable names it) in the
// session, with the session's environment unless `env` is given, and answers
// once it said it is ready.
export async function startAgent(session, { env } = {}) {
  const binary = process.env.TONDREL;
  if (!binary) throw new Error('TONDREL must name the built tondrel');
  const child = session.spawn(binary, [], { env, stdio: ['pipe', 'pipe', 'pipe'], name: 'tondrel' });
  const agent = new Agent(child);
  await agent.waitFor((m) => m.event === 'ready', { what: 'ready' });
  return agent;
}
