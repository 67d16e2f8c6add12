'use strict';

// Microphone activity per application, built from the agent's per-process
// mic events. A stop often comes when the process has already gone, so the
// agent can no longer say which application owned it; the view remembers
// that from the process's start event.

const { EventEmitter } = require('node:events');

function keyOf(pid, app) {
  if (pid === null) return 'device';
  return app.appPid === null ? `process:${pid}` : `app:${app.appPid}`;
}

class MicActivity extends EventEmitter {
  #source;
  #listeners;
  #appOfPid = new Map(); // pid -> { key, appPid, bundleId, appName } from its start event
  #active = new Map(); // key -> { appPid, bundleId, appName, pids: Set }

  /**
   * Follows the mic events of a client or a supervisor (anything that emits
   * 'mic'; a supervisor's restarts make the state unknown, see 'reset').
   */
  constructor(source) {
    super();
    if (!source || typeof source.on !== 'function') {
      throw new TypeError('MicActivity needs a client or a supervisor to follow');
    }
    this.#source = source;
    this.#listeners = {
      mic: (event) => this.#onMic(event),
      // The agent that ended took its state with it, and a new one reports
      // only changes after its first look: whatever was running may still be.
      exit: () => this.#reset(),
    };
    for (const [name, listener] of Object.entries(this.#listeners)) source.on(name, listener);
  }

  /**
   * The applications using microphone input now, each
   * { key, appPid, bundleId, appName, pids }.
   */
  get active() {
    return [...this.#active.entries()].map(([key, app]) => this.#describe(key, app));
  }

  /** Stops following the source. */
  dispose() {
    for (const [name, listener] of Object.entries(this.#listeners)) this.#source.off(name, listener);
  }

  #describe(key, app) {
    return Object.freeze({
      key, appPid: app.appPid, bundleId: app.bundleId, appName: app.appName,
      pids: Object.freeze([...app.pids]),
    });
  }

  #onMic(event) {
    const { running, pid } = event;
    if (running) {
      if (pid !== null && this.#appOfPid.has(pid)) return; // already counted
      const app = { appPid: event.appPid, bundleId: event.bundleId, appName: event.appName };
      const key = keyOf(pid, app);
      if (pid !== null) this.#appOfPid.set(pid, { key, ...app });
      let entry = this.#active.get(key);
      const starting = !entry;
      if (!entry) {
        entry = { ...app, pids: new Set() };
        this.#active.set(key, entry);
      }
      if (pid !== null) entry.pids.add(pid);
      if (starting) this.emit('start', this.#describe(key, entry));
      return;
    }
    // A stop is attributed as its start was; one whose start was not seen
    // (it came before this view) changes nothing here.
    const remembered = pid === null ? { key: 'device' } : this.#appOfPid.get(pid);
    if (!remembered) return;
    const entry = this.#active.get(remembered.key);
    if (!entry) return;
    if (pid !== null) {
      this.#appOfPid.delete(pid);
      entry.pids.delete(pid);
      if (entry.pids.size > 0) return;
    }
    this.#active.delete(remembered.key);
    this.emit('stop', this.#describe(remembered.key, entry));
  }

  #reset() {
    const unknown = this.active;
    this.#active.clear();
    this.#appOfPid.clear();
    if (unknown.length > 0) this.emit('reset', Object.freeze(unknown));
  }
}

module.exports = { MicActivity };
