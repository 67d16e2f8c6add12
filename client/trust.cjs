'use strict';

// Waiting for the user to grant the Accessibility permission. The agent
// checks it afresh on every request and never prompts, so a host that has
// sent the user to System Settings can only ask again until the answer
// changes. An empty request reads no application and is answered at once.

function checkedDelay(name, value) {
  if (typeof value !== 'number' || !(value > 0) || !Number.isFinite(value)) {
    throw new RangeError(`${name} must be a finite number of milliseconds above 0, not ${value}`);
  }
  return value;
}

function sleep(ms, signal) {
  return new Promise((resolve, reject) => {
    const onAbort = () => {
      clearTimeout(timer);
      reject(signal.reason);
    };
    const timer = setTimeout(() => {
      signal?.removeEventListener('abort', onAbort);
      resolve();
    }, ms);
    signal?.addEventListener('abort', onAbort, { once: true });
  });
}

// A supervisor between two agents answers again once the next one is up;
// anything else that fails will not get better by asking again.
const passing = (source, error) => typeof source.stopped === 'boolean' && !source.stopped &&
  (error?.code === 'ERR_TONDREL_NOT_RUNNING' || error?.code === 'ERR_TONDREL_EXITED');

/**
 * Resolves once the agent of `source` (a client or a supervisor) answers
 * that it is trusted, asking first at once, then after `initialDelayMs`
 * (default 250), each wait twice the last up to `maxDelayMs` (default 2000).
 * Rejects with the signal's reason when `signal` aborts, and with the
 * request's error when the agent cannot be asked (a client that has ended,
 * a supervisor that has stopped).
 */
async function waitForTrust(source, options = {}) {
  if (!source || typeof source.pageUrls !== 'function') {
    throw new TypeError('waitForTrust needs a client or a supervisor');
  }
  const { signal, initialDelayMs = 250, maxDelayMs = 2000 } = options ?? {};
  let delay = checkedDelay('initialDelayMs', initialDelayMs);
  const longest = checkedDelay('maxDelayMs', maxDelayMs);
  for (;;) {
    signal?.throwIfAborted();
    try {
      const { trusted } = await source.pageUrls({ bundleIds: [] }, { signal });
      if (trusted) return;
    } catch (error) {
      signal?.throwIfAborted();
      if (!passing(source, error)) throw error;
    }
    await sleep(delay, signal);
    delay = Math.min(longest, delay * 2);
  }
}

module.exports = { waitForTrust };
