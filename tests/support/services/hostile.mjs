// Peers that misbehave on purpose, for the agent to survive: a socket that
// accepts every connection and never answers, and a way to stop (SIGSTOP) a
// service a test started, and to let it go on again.
import { readdirSync, readFileSync } from 'node:fs';
import net from 'node:net';

// Listens at `socketPath`, accepts every connection, reads and drops what is
// written to it and never writes a byte. Runs in the test process itself.
export async function startSilentSocket(socketPath) {
  const sockets = new Set();
  let accepted = 0;
  const server = net.createServer((socket) => {
    accepted += 1;
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
    socket.on('error', () => {});
    socket.resume();
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(socketPath, resolve);
  });
  return {
    path: socketPath,
    get accepted() {
      return accepted;
    },
    // Connections open now.
    get open() {
      return sockets.size;
    },
    async stop() {
      for (const socket of sockets) socket.destroy();
      await new Promise((resolve) => server.close(() => resolve()));
    },
  };
}

// The pids of the processes whose parent is `pid`.
export function childrenOf(pid) {
  const children = [];
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (parent === pid) children.push(Number(entry));
    } catch {
      // Gone meanwhile.
    }
  }
  return children;
}

// A process's state letter from /proc ('T' when stopped), null once gone.
export function processState(pid) {
  try {
    const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
    return stat.slice(stat.lastIndexOf(')') + 2).split(' ')[0];
  } catch {
    return null;
  }
}

// Resident memory of a process in KiB, from /proc.
export function residentKiB(pid) {
  const status = readFileSync(`/proc/${pid}/status`, 'utf8');
  const match = /^VmRSS:\s+(\d+) kB/m.exec(status);
  if (!match) throw new Error(`no VmRSS for ${pid}`);
  return Number(match[1]);
}
