'use strict';

// Keeps an agent running for a host: starts it, starts it again after it
// ends unasked (waiting longer after each quick failure), and hands every
// event on through one emitter, so the host registers its listeners once.
// It gives up on a start that no restart can mend (the program missing or
// not runnable) and on an agent that keeps ending, rather than trying for
// ever with nobody told.

const { EventEmitter } = require('node:events');
const { TondrelError } = require('./errors.cjs');
const { startAgent, isPermanentStartFailure, checkedClientOptions } = require('./client.cjs');

const defaults = {
  restartDelayMs: 500,
  maxRestartDelayMs: 30000,
  stableAfterMs: 30000,
  // With the doubling waits, ten quick failures take about two and a half
  // minutes: long enough to ride out a busy machine, short enough that a
  // broken install is reported while the user still looks.
  maxRestarts: 10,
  restartWindowMs: 5 * 60 * 1000,
};

class TondrelSupervisor extends EventEmitter {
  #path;
  #startOptions;
  #settings;
  #client = null;
  #readyEvent = null;
  #failures = 0; // restarts since the agent last ran long enough to count as well
  #restarts = 0; // restarts in all
  #restartTimes = []; // when each restart within the window happened
  #restartTimer = null;
  #stableTimer = null;
  #closed = false;
  #closePromise = null;
  #waiting = []; // { resolve, reject } of ready promises not yet settled
  #finished = null; // how the last agent ended, once the supervisor has stopped
  #stopError = null; // what ready rejects with once stopped

  constructor(path, options = {}) {
    super();
    if (path !== undefined && path !== null && typeof path === 'object') {
      options = path;
      path = undefined;
    }
    const { restartDelayMs, maxRestartDelayMs, stableAfterMs, maxRestarts, restartWindowMs, ...startOptions } =
      { ...defaults, ...(options ?? {}) };
    for (const [name, value] of Object.entries({ restartDelayMs, maxRestartDelayMs, stableAfterMs })) {
      if (typeof value !== 'number' || !(value >= 0) || !Number.isFinite(value)) {
        throw new RangeError(`${name} must be a finite number of milliseconds, not ${value}`);
      }
    }
    if (typeof maxRestarts !== 'number' || !(maxRestarts >= 0)) {
      throw new RangeError(`maxRestarts must be 0 or more, not ${maxRestarts}`);
    }
    if (typeof restartWindowMs !== 'number' || !(restartWindowMs > 0)) {
      throw new RangeError(`restartWindowMs must be more than 0 milliseconds, not ${restartWindowMs}`);
    }
    checkedClientOptions(startOptions); // here, not at the first start on the next tick
    this.#path = path ?? undefined;
    this.#startOptions = startOptions;
    this.#settings = { restartDelayMs, maxRestartDelayMs, stableAfterMs, maxRestarts, restartWindowMs };
    // Started on the next tick, so the host's listeners are in place for the
    // first events, failures included.
    process.nextTick(() => this.#start());
  }

  /** The client of the agent running now, or null between agents. */
  get client() {
    return this.#client;
  }

  /** How many times the agent has been started again. */
  get restarts() {
    return this.#restarts;
  }

  /** true once the supervisor has stopped or is closing: no agent will be started again. */
  get stopped() {
    return this.#closed;
  }

  /**
   * Resolves with the ready event of the agent running now, or of the next
   * one; rejects once the supervisor has stopped (with the failed start's
   * error when that is why).
   */
  get ready() {
    if (this.#readyEvent) return Promise.resolve(this.#readyEvent);
    if (this.#finished) return Promise.reject(this.#stopError);
    return new Promise((resolve, reject) => this.#waiting.push({ resolve, reject }));
  }

  /**
   * Asks the running agent (before its ready too, as the client allows);
   * rejects with ERR_TONDREL_NOT_RUNNING between agents and once closed.
   */
  pageUrls(query, options) {
    if (!this.#client || this.#closed) {
      return Promise.reject(new TondrelError(
        this.#closed ? 'the supervisor has stopped; no request can be sent'
          : 'the agent is being started again; no request can be sent',
        'ERR_TONDREL_NOT_RUNNING'));
    }
    return this.#client.pageUrls(query, options);
  }

  /**
   * Stops restarting and closes the running agent (the options are the
   * client's: `timeout`, `drain`); resolves with how it ended (null when
   * none was running).
   */
  close(options) {
    if (!this.#closePromise) {
      this.#closed = true;
      clearTimeout(this.#restartTimer);
      clearTimeout(this.#stableTimer);
      const client = this.#client;
      this.#closePromise = (client ? client.close(options) : Promise.resolve(null)).then((info) => {
        this.#stop(info, new TondrelError('the supervisor was closed', 'ERR_TONDREL_NOT_RUNNING'));
        return info;
      });
    }
    return this.#closePromise;
  }

  #start() {
    if (this.#closed) return;
    const client = startAgent(this.#path, { ...this.#startOptions });
    this.#client = client;
    // Errors are handed on only to a host that listens, as the client does.
    client.on('error', (error) => this.#report(error));
    client.on('mic', (event) => this.emit('mic', event));
    client.on('unknown', (event) => this.emit('unknown', event));
    client.on('ready', (event) => {
      this.#readyEvent = Object.freeze({
        perProcess: event.perProcess,
        restarts: this.#restarts,
        micStateUnknown: this.#restarts > 0,
      });
      // An agent that ran a while before it ended failed for a reason of
      // its own, not for one that makes every start fail: start afresh.
      this.#stableTimer = setTimeout(() => { this.#failures = 0; }, this.#settings.stableAfterMs);
      this.#stableTimer.unref?.();
      for (const { resolve } of this.#waiting.splice(0)) resolve(this.#readyEvent);
      this.emit('ready', this.#readyEvent);
    });
    client.on('exit', (info) => this.#onExit(client, info));
  }

  #report(error) {
    if (this.listenerCount('error') > 0) this.emit('error', error);
  }

  #giveUp(info, error) {
    this.emit('exit', Object.freeze({ ...info, restartInMs: null }));
    this.#closed = true;
    this.#stop(info, error);
  }

  #onExit(client, info) {
    if (client !== this.#client) return;
    clearTimeout(this.#stableTimer);
    this.#readyEvent = null;
    this.#client = null;
    if (this.#closed) return; // close() reports the end
    // The client has already reported the failed start as an error.
    const startError = client.startError;
    if (isPermanentStartFailure(startError)) {
      this.#giveUp(info, startError);
      return;
    }
    const { restartDelayMs, maxRestartDelayMs, maxRestarts, restartWindowMs } = this.#settings;
    const now = performance.now();
    this.#restartTimes = this.#restartTimes.filter((at) => now - at < restartWindowMs);
    if (this.#restartTimes.length >= maxRestarts) {
      const error = new TondrelError(`the agent ended ${this.#restartTimes.length + 1} times within ` +
        `${restartWindowMs} ms (maxRestarts ${maxRestarts}); it is not started again`,
      'ERR_TONDREL_RESTART_LIMIT', { exitCode: info.code, signal: info.signal });
      this.#report(error);
      this.#giveUp(info, error);
      return;
    }
    const delay = Math.min(maxRestartDelayMs, restartDelayMs * 2 ** this.#failures);
    this.#failures += 1;
    this.#restartTimes.push(now);
    this.emit('exit', Object.freeze({ ...info, restartInMs: delay }));
    this.#restartTimer = setTimeout(() => {
      this.#restartTimer = null;
      this.#restarts += 1;
      this.#start();
    }, delay);
  }

  #stop(info, error) {
    if (this.#finished) return;
    this.#finished = Object.freeze({ code: info?.code ?? null, signal: info?.signal ?? null });
    this.#stopError = error;
    for (const { reject } of this.#waiting.splice(0)) reject(error);
    this.emit('close', this.#finished);
  }
}

/** Starts an agent and keeps it running; see TondrelSupervisor. */
function superviseAgent(path, options) {
  return new TondrelSupervisor(path, options);
}

module.exports = { TondrelSupervisor, superviseAgent };
