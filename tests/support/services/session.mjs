// A private desktop session for tests that need real services.
//
// Everything a test starts lives in one temporary folder (home, runtime and
// XDG folders) and talks over a session bus of its own, so nothing the
// machine or the developer already runs is seen or touched. Every process is
// started in a process group of its own and stopped by its pid; a watchdog
// outside the test process stops them too if the test process dies before it
// can (a crash, a runner's timeout, SIGKILL).
import { execFile, spawn } from 'node:child_process';
import { appendFileSync, chmodSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

const graceMs = 3000;

// Variables that would lead a child to a service outside the session.
const inherited = [
  'DISPLAY', 'WAYLAND_DISPLAY', 'XAUTHORITY', 'PULSE_SERVER', 'PIPEWIRE_REMOTE',
  'PIPEWIRE_RUNTIME_DIR', 'DBUS_SESSION_BUS_ADDRESS', 'AT_SPI_BUS_ADDRESS',
  'XDG_RUNTIME_DIR', 'XDG_CONFIG_HOME', 'XDG_DATA_HOME', 'XDG_CACHE_HOME', 'XDG_STATE_HOME',
  'XDG_SESSION_TYPE', 'XDG_CURRENT_DESKTOP', 'GIO_LAUNCHED_DESKTOP_FILE',
  'GIO_LAUNCHED_DESKTOP_FILE_PID', 'NO_AT_BRIDGE', 'GTK_MODULES',
  // A sanitizer runtime preloaded into the test runner would be loaded into
  // every service and browser too, slowing them down many times over.
  'LD_PRELOAD',
];

// Whether a child process has ended (exited, or killed by a signal).
export function hasEnded(child) {
  return child.exitCode !== null || child.signalCode !== null;
}

// Resolves once the child process has ended.
export function endOf(child) {
  if (hasEnded(child)) return Promise.resolve();
  return new Promise((resolve) => child.once('exit', () => resolve()));
}

// What became of a child process and the last of what it wrote on standard
// error, for failure messages.
export function describeProcess(child) {
  const status = child.exitCode !== null ? `exited with ${child.exitCode}`
    : child.signalCode !== null ? `killed by ${child.signalCode}` : 'running';
  return `${child.label} ${status}; stderr: ${child.stderrTail?.trim().slice(-1000) || '(nothing)'}`;
}

function killGroup(pid, signal) {
  try {
    process.kill(-pid, signal);
  } catch {
    // Already gone.
  }
}

function firstLine(stream, what, timeoutMs) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => {
      cleanup();
      reject(new Error(`${what}: nothing within ${timeoutMs} ms`));
    }, timeoutMs);
    const onData = (chunk) => {
      text += chunk;
      const end = text.indexOf('\n');
      if (end >= 0) {
        cleanup();
        resolve(text.slice(0, end).trim());
      }
    };
    const onEnd = () => {
      cleanup();
      reject(new Error(`${what}: closed before a line (${JSON.stringify(text)})`));
    };
    function cleanup() {
      clearTimeout(timer);
      stream.off('data', onData);
      stream.off('end', onEnd);
    }
    stream.setEncoding('utf8');
    stream.on('data', onData);
    stream.on('end', onEnd);
  });
}

export class Session {
  #children = [];
  #pidFile;
  #watchdog;
  #onExit;
  #stopped = false;

  constructor(dir) {
    this.dir = dir;
    const folder = (name, mode = 0o755) => {
      const p = path.join(dir, name);
      mkdirSync(p, { recursive: true });
      chmodSync(p, mode);
      return p;
    };
    const env = { ...process.env };
    for (const name of inherited) delete env[name];
    Object.assign(env, {
      HOME: folder('home'),
      XDG_RUNTIME_DIR: folder('runtime', 0o700),
      XDG_CONFIG_HOME: folder('config'),
      XDG_DATA_HOME: folder('data'),
      XDG_CACHE_HOME: folder('cache'),
      XDG_STATE_HOME: folder('state'),
      XDG_DATA_DIRS: process.env.XDG_DATA_DIRS || '/usr/local/share/:/usr/share/',
    });
    this.env = env;

    this.#pidFile = path.join(dir, 'pids');
    writeFileSync(this.#pidFile, '');
    // The watchdog waits for its input to end, which happens when this
    // process ends for whatever reason, then stops every group still listed.
    this.#watchdog = spawn(
      'sh',
      ['-c', 'cat >/dev/null; for p in $(cat "$1" 2>/dev/null); do kill -KILL "-$p" 2>/dev/null; done; rm -rf "$2"',
        'watchdog', this.#pidFile, dir],
      { detached: true, stdio: ['pipe', 'ignore', 'ignore'] });
    this.#watchdog.unref();
    this.#watchdog.stdin.unref?.();
    this.#onExit = () => {
      for (const child of this.#children) killGroup(child.pid, 'SIGKILL');
    };
    process.on('exit', this.#onExit);
  }

  // Starts a tracked process in a group of its own. The session's environment
  // applies unless `env` is given; `env` is used as the whole environment.
  spawn(command, args = [], { env, stdio = ['ignore', 'ignore', 'pipe'], name } = {}) {
    if (this.#stopped) throw new Error('session already stopped');
    const child = spawn(command, args, { env: env ?? this.env, stdio, detached: true });
    child.label = name ?? path.basename(command);
    child.once('error', () => {});
    if (child.pid === undefined) {
      throw new Error(`could not start ${command}`);
    }
    this.#children.push(child);
    appendFileSync(this.#pidFile, `${child.pid}\n`);
    // Detached children do not keep a finished test run alive.
    child.unref();
    for (const stream of [child.stdout, child.stderr]) stream?.unref?.();
    // Keep the last of what it says on standard error for failure messages.
    if (child.stderr) {
      child.stderrTail = '';
      child.stderr.setEncoding('utf8');
      child.stderr.on('data', (text) => {
        child.stderrTail = (child.stderrTail + text).slice(-4000);
      });
    }
    return child;
  }

  // Runs a short command to completion in the session's environment.
  run(command, args = [], { env, timeoutMs = 10000 } = {}) {
    return new Promise((resolve) => {
      execFile(command, args, { env: env ?? this.env, timeout: timeoutMs, maxBuffer: 64 << 20 },
        (error, stdout, stderr) => {
          const code = error ? (typeof error.code === 'number' ? error.code : -1) : 0;
          resolve({ code, stdout, stderr });
        });
    });
  }

  // Polls `check` until it returns a truthy value and answers that value. A
  // check that throws is tried again, unless its error is marked `fatal`.
  async waitFor(check, { timeoutMs = 10000, intervalMs = 25, what = 'condition' } = {}) {
    const deadline = Date.now() + timeoutMs;
    let lastError;
    for (;;) {
      try {
        const value = await check();
        if (value) return value;
      } catch (error) {
        // A check that knows waiting can no longer help (the process it
        // waits for has ended) says so at once.
        if (error?.fatal) throw error;
        lastError = error;
      }
      if (Date.now() >= deadline) {
        const detail = lastError ? ` (last error: ${lastError.message})` : '';
        throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}${detail}`);
      }
      await new Promise((resolve) => setTimeout(resolve, intervalMs));
    }
  }

  // Stops one tracked process (and its group): SIGTERM, then SIGKILL after
  // the grace period.
  async stopProcess(child, { signal = 'SIGTERM' } = {}) {
    killGroup(child.pid, signal);
    const timer = setTimeout(() => killGroup(child.pid, 'SIGKILL'), graceMs);
    await endOf(child);
    clearTimeout(timer);
    // Whatever the leader left behind in its group goes too.
    killGroup(child.pid, 'SIGKILL');
    this.#children = this.#children.filter((c) => c !== child);
  }

  // The pids of the tracked processes that are still running.
  livePids() {
    return this.#children.filter((c) => !hasEnded(c))
      .map((c) => c.pid);
  }

  async stop() {
    if (this.#stopped) return;
    this.#stopped = true;
    for (const child of [...this.#children].reverse()) {
      await this.stopProcess(child);
    }
    process.off('exit', this.#onExit);
    // Nothing is left to stop: the watchdog only removes the folder.
    writeFileSync(this.#pidFile, '');
    this.#watchdog.stdin.end();
    rmSync(this.dir, { recursive: true, force: true });
  }
}

// Starts a session with its own bus and answers it once the bus is ready.
export async function startSession({ name = 'session' } = {}) {
  const dir = mkdtempSync(path.join(tmpdir(), `tondrel-${name}-`));
  const session = new Session(dir);
  try {
    const address = `unix:path=${path.join(session.env.XDG_RUNTIME_DIR, 'bus')}`;
    const bus = session.spawn('dbus-daemon',
      ['--session', '--nofork', '--nopidfile', `--address=${address}`, '--print-address=1'],
      { stdio: ['ignore', 'pipe', 'pipe'], name: 'dbus-daemon' });
    // The address is printed once the bus accepts connections.
    session.env.DBUS_SESSION_BUS_ADDRESS = await firstLine(bus.stdout, 'dbus-daemon', 10000);
    return session;
  } catch (error) {
    await session.stop();
    throw error;
  }
}
