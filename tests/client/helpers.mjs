// What the client's test files share: the fake agent they start, and the
// error a promise rejects with.
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';

export const fake = fileURLToPath(new URL('./fake-agent.mjs', import.meta.url));

export const rejection = async (promise) => {
  try {
    await promise;
  } catch (error) {
    return error;
  }
  assert.fail('expected a rejection');
};
