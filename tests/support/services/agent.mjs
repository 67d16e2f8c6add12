// The real `tondrel` driven as a host drives it: started in a session,
// commands written as lines, every line it writes parsed and kept.
import { createInterface } from 'node:readline';

import { hasEnded } from './session.mjs';

export class Agent {
  constructor(session, child) {
    this.session = session;
    this.child = child;
    this.lines = [];
    this.messages = [];
    this.bad = [];
    const reader = createInterface({ input: child.stdout });
    reader.on('line', (line) => {
      this.lines.push(line);
      try {
        this.messages.push(JSON.parse(line));
      } catch {
        this.bad.push(line);
      }
    });
  }

  get alive() {
    return !hasEnded(this.child);
  }

  send(command) {
    this.child.stdin.write(`${JSON.stringify(command)}\n`);
  }

  // The first message after `from` (an index into messages) that matches;
  // answers [message, index].
  async waitForMessage(match, { from = 0, timeoutMs = 15000, what = 'a message' } = {}) {
    return this.session.waitFor(() => {
      if (!this.alive) throw new Error(`tondrel ended: ${this.child.stderrTail ?? ''}`);
      for (let i = from; i < this.messages.length; i++) {
        if (match(this.messages[i])) return [this.messages[i], i];
      }
      return null;
    }, { timeoutMs, what });
  }

  mics() {
    return this.messages.filter((m) => m.event === 'mic');
  }
}

// Starts tondrel (TONDREL in the environment) in the session and waits for
// `ready`.
export async function startAgent(session, { env } = {}) {
  const executable = process.env.TONDREL;
  if (!executable) throw new Error('TONDREL names no agent to run');
  const child = session.spawn(executable, [], {
    env: { ...session.env, ...env },
    stdio: ['pipe', 'pipe', 'pipe'],
    name: 'tondrel',
  });
  const agent = new Agent(session, child);
  await agent.waitForMessage((m) => m.event === 'ready', { what: 'ready' });
  return agent;
}
