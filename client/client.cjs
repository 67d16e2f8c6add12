'use strict';

// A client for the tondrel agent: it owns the JSON-lines plumbing between a
// host and the agent's standard input and output, so that a host can think in
// events and promises instead of lines.
//
// What it guards against, each learnt the hard way by hosts that wrote this
// by hand:
// - a reply matched to the wrong request (replies are matched by id, never by
//   position);
// - a request that waits forever because the agent died, or because the line
//   sent was one the agent silently ignores (arguments are checked before
//   anything is written);
// - a host crashed by a stray line (bad input is reported, never thrown);
// - an agent left running (close() ends its input and waits for the exit).

const { spawn } = require('node:child_process');
const { EventEmitter } = require('node:events');
const { Readable, Writable } = require('node:stream');
const { StringDecoder } = require('node:string_decoder');
const { TondrelError } = require('./errors.cjs');
const { findAgent } = require('./find.cjs');

const int32Min = -2147483648;
const int32Max = 2147483647;

// How long to wait, once the agent has exited, for its output to drain; and
// once its output has closed, for the exit to be reported. Node gives the two
// in either order, and the second can be missing for good: a process the agent
// started may hold the output open after the agent itself is gone.
const settleMs = 250;

// The longest line kept for parsing, in characters as JavaScript counts them
// (UTF-16 code units). The agent's longest lines are page-urls replies, far
// below this; a longer line is reported and dropped, so that a runaway
// writer can never make the buffered text outgrow what a string can hold
// (about 512 MiB), which would throw out of the stream handler.
const maxLineLength = 64 * 1024 * 1024;

// How many abandoned requests are remembered, so that their late replies can
// be dropped quietly. The oldest is forgotten first; a reply that comes after
// that is reported as unmatched, which is all it costs. Without a bound an
// agent that never answers would make the set grow for ever.
const maxAbandoned = 1024;

// A string with an unpaired surrogate becomes a \uD800-style escape in JSON,
// which the agent's parser refuses: the command would never be answered.
const loneSurrogate = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

const isObject = (value) => typeof value === 'object' && value !== null && !Array.isArray(value);
const isInt32 = (value) => Number.isInteger(value) && value >= int32Min && value <= int32Max;
const isInt32OrNull = (value) => value === null || isInt32(value);
const isStringOrNull = (value) => value === null || typeof value === 'string';
const isStringArray = (value) => Array.isArray(value) && value.every((s) => typeof s === 'string');

// Spawn failures that a later attempt may not meet again: the system was
// short of processes, memory or descriptors. Every other one (no such file,
// not executable, not a program) stays until someone changes the install.
const passingSpawnErrors = new Set(['EAGAIN', 'ENOMEM', 'EMFILE', 'ENFILE']);

/**
 * Whether an error from a client's `ready` is a start that no restart can
 * mend: the program is missing, not executable, not for this system, or the
 * platform package is absent or of another version.
 */
function isPermanentStartFailure(error) {
  if (error?.code !== 'ERR_TONDREL_SPAWN') return false;
  const cause = error.cause?.code;
  return typeof cause === 'string' && !passingSpawnErrors.has(cause);
}

function checkedTimeout(name, value) {
  if (value === undefined || value === null || value === Infinity) return null;
  if (typeof value !== 'number' || !(value >= 0) || !Number.isFinite(value)) {
    throw new RangeError(`${name} must be a number of milliseconds (or Infinity), not ${value}`);
  }
  return value;
}

function checkedClientOptions(options) {
  const debug = options?.debug;
  if (debug !== undefined && typeof debug !== 'boolean' && typeof debug !== 'function') {
    throw new TypeError('debug must be true, false or a function (direction, line, pid)');
  }
  return { requestTimeoutMs: checkedTimeout('requestTimeoutMs', options?.requestTimeoutMs), debug };
}

// Where wire lines go when debugging is on: a function of the host's, or
// standard error. TONDREL_DEBUG in the host's environment turns it on for
// clients that were given no `debug` option, without touching the code.
function debugSink(debug) {
  if (typeof debug === 'function') return debug;
  const fromEnv = process.env.TONDREL_DEBUG;
  const on = debug ?? (fromEnv !== undefined && fromEnv !== '' && fromEnv !== '0');
  if (!on) return null;
  return (direction, line, pid) => {
    process.stderr.write(`tondrel[${pid ?? '-'}] ${direction} ${line}\n`);
  };
}

function describeExit({ code, signal }) {
  if (signal) return `was killed by ${signal}`;
  if (code === null || code === undefined) return 'ended';
  return `exited with code ${code}`;
}

// The keys a query adds to the command, or an exception saying why it cannot
// be sent.
function checkedQuery(query) {
  if (!isObject(query)) {
    throw new TypeError('pageUrls needs an object: { pid } or { bundleIds }');
  }
  const hasPid = query.pid !== undefined;
  const hasBundleIds = query.bundleIds !== undefined;
  if (hasPid === hasBundleIds) {
    throw new TypeError('pageUrls needs exactly one of pid and bundleIds');
  }
  if (hasPid) {
    const { pid } = query;
    if (typeof pid !== 'number') {
      throw new TypeError(`pid must be a number, not ${pid === null ? 'null' : typeof pid}`);
    }
    if (!isInt32(pid)) {
      throw new RangeError(`pid must be a whole number in the signed 32-bit range, not ${pid}`);
    }
    return { pid };
  }
  const { bundleIds } = query;
  if (!Array.isArray(bundleIds)) {
    throw new TypeError('bundleIds must be an array of strings');
  }
  for (const [index, bundleId] of bundleIds.entries()) {
    if (typeof bundleId !== 'string') {
      throw new TypeError(`bundleIds[${index}] must be a string, not ${typeof bundleId}`);
    }
    if (loneSurrogate.test(bundleId)) {
      throw new TypeError(`bundleIds[${index}] holds an unpaired surrogate`);
    }
  }
  return { bundleIds: [...bundleIds] };
}

/**
 * One running agent, started by `startAgent` or wrapped around a child
 * process the host spawned itself (its standard input and output must be
 * pipes).
 */
class TondrelClient extends EventEmitter {
  #child;
  #decoder = new StringDecoder('utf8');
  #partial = '';
  #skipping = false; // inside a line that went over maxLineLength
  #pending = new Map(); // id -> { resolve, reject, settle }
  #abandoned = new Set(); // ids whose caller gave up; their replies are dropped
  #nextId = 1;
  #readyEvent = null;
  #ready;
  #readySettle;
  #exitInfo = null;
  #exitEvent = null; // set once the client is finished with the agent
  #exited;
  #resolveExited;
  #outputEnded = false;
  #settleTimer = null;
  #closing = false;
  #closePromise = null;
  #spawnError = null;
  #requestTimeoutMs = null;
  #log = null;
  #idle = []; // resolvers waiting for the last pending request to settle

  constructor(child, options = {}) {
    super();
    if (!child || !child.stdin || !child.stdout ||
        typeof child.stdin.write !== 'function' || typeof child.stdout.on !== 'function') {
      throw new TypeError("the agent's child process needs piped standard input and output");
    }
    const { requestTimeoutMs, debug } = checkedClientOptions(options);
    this.#requestTimeoutMs = requestTimeoutMs;
    this.#log = debugSink(debug);
    this.#child = child;

    this.#ready = new Promise((resolve, reject) => {
      this.#readySettle = { resolve, reject };
    });
    // A host that never awaits `ready` must not get an unhandled rejection
    // when the agent dies early; one that does still sees the rejection.
    this.#ready.catch(() => {});
    this.#exited = new Promise((resolve) => {
      this.#resolveExited = resolve;
    });

    // Writing to an agent that has gone raises EPIPE on the stream. The exit
    // is reported through the pending requests and the `exit` event, so the
    // stream errors themselves carry nothing more.
    child.stdin.on('error', () => {});
    child.stdout.on('error', () => {});
    child.stdout.on('data', (chunk) => this.#onData(chunk));
    child.stdout.on('end', () => this.#onOutputEnd());
    child.stdout.on('close', () => this.#onOutputEnd());
    child.on('error', (error) => this.#onChildError(error));
    child.on('exit', (code, signal) => this.#onExit(code, signal));
    child.on('close', (code, signal) => {
      this.#onExit(code, signal);
      this.#finish();
    });

    // Wrapped after the fact: the events above have already been and gone.
    if (child.exitCode !== null && child.exitCode !== undefined) {
      this.#onExit(child.exitCode, null);
    } else if (child.signalCode) {
      this.#onExit(null, child.signalCode);
    }
    if (child.stdout.readableEnded || child.stdout.destroyed) {
      process.nextTick(() => this.#onOutputEnd());
    }
  }

  /** The child process of the agent. */
  get child() {
    return this.#child;
  }

  /** The agent's process id, or undefined when it could not be started. */
  get pid() {
    return this.#child.pid;
  }

  /**
   * Resolves with the `ready` event once the agent has written it; rejects
   * when the agent ends first.
   */
  get ready() {
    return this.#ready;
  }

  /** The `ready` event, or null until it has arrived. */
  get readyEvent() {
    return this.#readyEvent;
  }

  /** Resolves with `{ code, signal }` once the agent has ended. Never rejects. */
  get exited() {
    return this.#exited;
  }

  /**
   * The ERR_TONDREL_SPAWN error of a start that failed (its `cause` the
   * system's or the lookup's error), or null.
   */
  get startError() {
    return this.#spawnError ? new TondrelError(this.#spawnMessage(), 'ERR_TONDREL_SPAWN',
      { cause: this.#spawnError }) : null;
  }

  /** Number of requests sent and not yet answered. */
  get pendingCount() {
    return this.#pending.size;
  }

  /**
   * Sends one page-urls command and resolves with `{ trusted, urls }` from
   * its reply. `timeoutMs` (default: the client's requestTimeoutMs, else
   * none) gives up waiting with ERR_TONDREL_TIMEOUT.
   */
  pageUrls(query, options = {}) {
    let keys;
    let timeoutMs;
    try {
      keys = checkedQuery(query);
      timeoutMs = options?.timeoutMs === undefined ? this.#requestTimeoutMs
        : checkedTimeout('timeoutMs', options.timeoutMs);
    } catch (error) {
      return Promise.reject(error);
    }
    const signal = options?.signal;
    if (signal?.aborted) return Promise.reject(signal.reason);
    if (this.#exitEvent || this.#closing || this.#outputEnded) {
      return Promise.reject(new TondrelError(
        this.#exitEvent ? `the agent ${describeExit(this.#exitEvent)}; no request can be sent`
          : this.#closing ? 'the agent is being closed; no request can be sent'
            : "the agent's output has closed; no request can be sent",
        'ERR_TONDREL_NOT_RUNNING'));
    }
    const id = this.#freshId();
    const line = JSON.stringify({ cmd: 'page-urls', id, ...keys });

    return new Promise((resolve, reject) => {
      let onAbort = null;
      let timer = null;
      const settle = () => {
        this.#pending.delete(id);
        if (onAbort) signal.removeEventListener('abort', onAbort);
        if (timer) clearTimeout(timer);
        if (this.#pending.size === 0) for (const done of this.#idle.splice(0)) done();
      };
      const giveUp = (reason) => {
        settle();
        this.#abandon(id);
        reject(reason);
      };
      if (signal) {
        onAbort = () => giveUp(signal.reason);
        signal.addEventListener('abort', onAbort, { once: true });
      }
      if (timeoutMs !== null) {
        timer = setTimeout(() => giveUp(new TondrelError(
          `no reply to page-urls request ${id} within ${timeoutMs} ms`, 'ERR_TONDREL_TIMEOUT')),
        timeoutMs);
      }
      this.#pending.set(id, {
        resolve: (value) => { settle(); resolve(value); },
        reject: (error) => { settle(); reject(error); },
      });
      this.#log?.('>', line, this.#child.pid);
      // Node queues what the pipe cannot take yet; nothing is lost by not
      // waiting for 'drain'.
      this.#child.stdin.write(`${line}\n`);
    });
  }

  /**
   * Ends the agent's standard input, which makes it exit, and resolves with
   * `{ code, signal }` once it has. Requests still unanswered when it exits
   * are rejected; with `drain: true` the input is ended only once every
   * request sent before has settled (no new ones are taken meanwhile).
   * After `timeout` milliseconds from the call (default 5000; `Infinity` to
   * wait for ever) the agent is killed with SIGKILL, drained or not.
   */
  close(options = {}) {
    if (!this.#closePromise) {
      this.#closing = true;
      const timeout = options?.timeout ?? 5000;
      const endInput = () => {
        if (!this.#exitEvent && !this.#child.stdin.destroyed) this.#child.stdin.end();
      };
      if (options?.drain && this.#pending.size > 0) {
        this.#idle.push(endInput);
      } else {
        endInput();
      }
      this.#closePromise = new Promise((resolve) => {
        let timer = null;
        if (Number.isFinite(timeout) && !this.#exitEvent) {
          timer = setTimeout(() => this.kill('SIGKILL'), Math.max(0, timeout));
        }
        this.#exited.then((info) => {
          if (timer) clearTimeout(timer);
          resolve(info);
        });
      });
    }
    return this.#closePromise;
  }

  /** Sends a signal to the agent (default SIGTERM). */
  kill(signal = 'SIGTERM') {
    this.#closing = true;
    if (this.#exitEvent || this.#exitInfo) return false;
    return this.#child.kill(signal);
  }

  #abandon(id) {
    this.#abandoned.add(id);
    if (this.#abandoned.size > maxAbandoned) {
      // A Set iterates in insertion order: the first is the oldest.
      this.#abandoned.delete(this.#abandoned.values().next().value);
    }
  }

  #freshId() {
    // Safe integers keep ids exact on both sides and inside the agent's
    // signed 64-bit range. Wrapping around would need 2^53 requests; it
    // still skips ids that are in use.
    for (;;) {
      const id = this.#nextId;
      this.#nextId = id >= Number.MAX_SAFE_INTEGER ? 1 : id + 1;
      if (!this.#pending.has(id) && !this.#abandoned.has(id)) return id;
    }
  }

  #report(message, code, line) {
    // An 'error' event without a listener would throw out of the stream
    // handler and take the host down; a bad line is not worth that.
    if (this.listenerCount('error') > 0) {
      this.emit('error', new TondrelError(message, code, line === undefined ? undefined : { line }));
    }
  }

  #onData(chunk) {
    const text = typeof chunk === 'string' ? chunk : this.#decoder.write(chunk);
    let start = 0;
    for (let end; (end = text.indexOf('\n', start)) >= 0; start = end + 1) {
      if (this.#skipping) {
        // The rest of an over-long line; what follows its end is read again.
        this.#skipping = false;
        continue;
      }
      if (this.#partial.length + (end - start) > maxLineLength) {
        this.#partial = '';
        this.#tooLong();
        continue;
      }
      const line = this.#partial + text.slice(start, end);
      this.#partial = '';
      this.#onLine(line);
    }
    if (this.#skipping || start === text.length) return;
    if (this.#partial.length + (text.length - start) > maxLineLength) {
      this.#partial = '';
      this.#skipping = true;
      this.#tooLong();
      return;
    }
    this.#partial += text.slice(start);
  }

  #tooLong() {
    this.#report(`the agent wrote a line longer than ${maxLineLength} characters; it was dropped`,
      'ERR_TONDREL_LINE_TOO_LONG');
  }

  #onLine(line) {
    this.#log?.('<', line, this.#child.pid);
    let message;
    try {
      message = JSON.parse(line);
    } catch {
      this.#report('the agent wrote a line that is not JSON', 'ERR_TONDREL_BAD_LINE', line);
      return;
    }
    if (!isObject(message)) {
      this.#report('the agent wrote a line that is not a JSON object', 'ERR_TONDREL_BAD_LINE', line);
      return;
    }
    switch (message.event) {
      case 'ready':
        this.#onReady(message, line);
        return;
      case 'mic':
        this.#onMic(message, line);
        return;
      case 'page-urls':
        this.#onReply(message, line);
        return;
      default:
        if (typeof message.event !== 'string') {
          this.#report('the agent wrote an object without an event name', 'ERR_TONDREL_BAD_LINE', line);
        } else {
          this.emit('unknown', message);
        }
    }
  }

  #onReady(message, line) {
    if (typeof message.perProcess !== 'boolean') {
      this.#report('ready event without a boolean perProcess', 'ERR_TONDREL_BAD_EVENT', line);
      return;
    }
    if (this.#readyEvent) {
      this.#report('the agent wrote ready a second time', 'ERR_TONDREL_BAD_EVENT', line);
      return;
    }
    this.#readyEvent = Object.freeze({ perProcess: message.perProcess });
    this.#readySettle.resolve(this.#readyEvent);
    this.emit('ready', this.#readyEvent);
  }

  #onMic(message, line) {
    const { running, pid, appPid, bundleId, appName } = message;
    if (typeof running !== 'boolean' || !isInt32OrNull(pid) || !isInt32OrNull(appPid) ||
        !isStringOrNull(bundleId) || !isStringOrNull(appName)) {
      this.#report('mic event with a missing key or a value of the wrong type',
        'ERR_TONDREL_BAD_EVENT', line);
      return;
    }
    this.emit('mic', Object.freeze({ running, pid, appPid, bundleId, appName }));
  }

  #onReply(message, line) {
    const { id, trusted, urls } = message;
    const request = Number.isSafeInteger(id) ? this.#pending.get(id) : undefined;
    if (!request) {
      if (Number.isSafeInteger(id) && this.#abandoned.delete(id)) return;
      this.#report(Number.isInteger(id) ? `reply for request ${id}, which is not waiting`
        : 'page-urls reply without an integer id',
      Number.isInteger(id) ? 'ERR_TONDREL_UNMATCHED_REPLY' : 'ERR_TONDREL_BAD_EVENT', line);
      return;
    }
    if (typeof trusted !== 'boolean' || !isStringArray(urls)) {
      request.reject(new TondrelError(
        `reply for request ${id} without a boolean trusted and an array of strings in urls`,
        'ERR_TONDREL_BAD_EVENT', { line }));
      return;
    }
    request.resolve({ trusted, urls });
  }

  #onChildError(error) {
    if (this.#child.pid === undefined && !this.#spawnError) {
      this.#spawnError = error;
      if (this.listenerCount('error') > 0) {
        this.emit('error', new TondrelError(this.#spawnMessage(), 'ERR_TONDREL_SPAWN', { cause: error }));
      }
    }
    // Other errors (a failed kill, for one) change nothing the host could act on.
  }

  #spawnMessage() {
    const error = this.#spawnError;
    return `the agent could not be started: ${error.message}${spawnHint(this.#child.spawnfile, error)}`;
  }

  #onOutputEnd() {
    if (this.#outputEnded) return;
    this.#outputEnded = true;
    const rest = this.#partial + this.#decoder.end();
    const skipped = this.#skipping;
    this.#partial = '';
    this.#skipping = false;
    if (rest !== '' && !skipped) {
      this.#report("the agent's output ended inside a line", 'ERR_TONDREL_BAD_LINE', rest);
    }
    this.#settle();
  }

  #onExit(code, signal) {
    if (this.#exitInfo) return;
    // A process that never started reports a negative errno as its code.
    this.#exitInfo = this.#spawnError ? { code: null, signal: null }
      : { code: code ?? null, signal: signal ?? null };
    this.#settle();
  }

  // Called when the output ends or the exit is known: once both are, the
  // client is done; with one of the two, the other gets a short while.
  #settle() {
    if (this.#exitEvent) return;
    if (this.#outputEnded && this.#exitInfo) {
      this.#finish();
      return;
    }
    if (this.#settleTimer) return;
    this.#settleTimer = setTimeout(() => {
      this.#settleTimer = null;
      if (this.#exitInfo) {
        // Whatever still holds the output open is not the agent; reading
        // on would keep the host's event loop alive for nothing.
        this.#child.stdout.destroy();
        this.#finish();
      } else {
        this.#rejectPending(new TondrelError(
          "the agent's output closed before it replied", 'ERR_TONDREL_OUTPUT_CLOSED'));
      }
    }, settleMs);
    this.#settleTimer.unref?.();
  }

  #rejectPending(error) {
    for (const [id, request] of [...this.#pending]) {
      const perRequest = new TondrelError(`${error.message} (page-urls request ${id})`, error.code, {
        ...(error.exitCode !== undefined ? { exitCode: error.exitCode, signal: error.signal } : {}),
        ...(error.cause !== undefined ? { cause: error.cause } : {}),
      });
      request.reject(perRequest);
    }
  }

  #finish() {
    if (this.#exitEvent) return;
    if (this.#settleTimer) {
      clearTimeout(this.#settleTimer);
      this.#settleTimer = null;
    }
    const info = Object.freeze(this.#exitInfo ?? { code: null, signal: null });
    this.#exitEvent = info;
    this.#outputEnded = true;
    const why = this.#spawnError
      ? new TondrelError(this.#spawnMessage(), 'ERR_TONDREL_SPAWN', { cause: this.#spawnError })
      : new TondrelError(`the agent ${describeExit(info)} before it replied`, 'ERR_TONDREL_EXITED',
        { exitCode: info.code, signal: info.signal });
    this.#rejectPending(why);
    this.#abandoned.clear();
    if (!this.#readyEvent) {
      this.#readySettle.reject(this.#spawnError ? why : new TondrelError(
        `the agent ${describeExit(info)} before it was ready`, 'ERR_TONDREL_EXITED',
        { exitCode: info.code, signal: info.signal }));
    }
    this.#resolveExited(info);
    this.emit('exit', info);
  }
}

// A program inside an archive (Electron's app.asar, say) cannot be run: the
// system sees the archive as a file, so a path through it fails with ENOTDIR.
const insideArchive = /\.asar(?:[\\/]|$)/;

function spawnHint(path, error) {
  if (error?.code === 'ENOTDIR' || insideArchive.test(String(path))) {
    return ' (a program inside an archive such as app.asar cannot be started: ship it ' +
      'unpacked, e.g. with asarUnpack, and give the path under app.asar.unpacked)';
  }
  return '';
}

// Stands in for a child process that spawn() refused outright. Node throws
// for some errors (ENOTDIR, ELOOP, EINVAL among them) instead of reporting
// them as an 'error' event; this reports them the same way, so the host sees
// one kind of failed start whatever the reason.
class UnstartedChild extends EventEmitter {
  pid = undefined;
  exitCode = null;
  signalCode = null;
  stdin = new Writable({ write: (_chunk, _encoding, done) => done() });
  stdout = new Readable({ read() {} });

  constructor(error, path) {
    super();
    this.spawnfile = path;
    process.nextTick(() => {
      this.emit('error', error);
      this.stdout.push(null);
      this.emit('close', null, null);
    });
  }

  kill() {
    return false;
  }
}

/**
 * Starts the agent and returns its client: the program at `path` when one is
 * given, else the agent of the platform package for this system (see
 * findAgent). `args` go to the program (the agent itself reads none; the
 * scenario runner does). The agent's standard error is inherited unless
 * `stderr` says otherwise. It never throws for a start that fails: that is
 * reported as ERR_TONDREL_SPAWN through `ready`, the requests and `error`.
 */
function startAgent(path, options = {}) {
  if (path !== undefined && path !== null && typeof path === 'object') {
    options = path;
    path = undefined;
  }
  const { args = [], env, cwd, stderr = 'inherit', requestTimeoutMs, debug } = options ?? {};
  const clientOptions = { requestTimeoutMs, debug };
  checkedClientOptions(clientOptions); // before anything is started
  if (path === undefined || path === null) {
    try {
      path = findAgent();
    } catch (error) {
      if (!(error instanceof TondrelError)) throw error;
      return new TondrelClient(new UnstartedChild(error, undefined), clientOptions);
    }
  }
  let child;
  try {
    child = spawn(path, args, { stdio: ['pipe', 'pipe', stderr], env, cwd });
  } catch (error) {
    // Wrong argument types are the caller's mistake and stay exceptions;
    // anything the system said is a failed start.
    if (typeof error?.errno !== 'number') throw error;
    child = new UnstartedChild(error, path);
  }
  return new TondrelClient(child, clientOptions);
}

/** Wraps a child process that the host has already spawned. */
function attachAgent(child, options) {
  return new TondrelClient(child, options);
}

module.exports = {
  TondrelClient, startAgent, attachAgent, maxLineLength, maxAbandoned, isPermanentStartFailure,
  checkedClientOptions,
};
