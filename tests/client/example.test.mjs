// The host example in examples/host, run as a newcomer would run it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';
import { fileURLToPath } from 'node:url';

const example = fileURLToPath(new URL('../../examples/host/host.mjs', import.meta.url));
const simPath = process.env.TONDREL_SIM;

test('the host example prints ready, the pages and a mic event', { skip: !simPath && 'tondrel-sim is not built' }, async () => {
  const { stdout } = await promisify(execFile)(process.execPath, [example, simPath], { timeout: 30_000 });
  assert.deepEqual(stdout.trimEnd().split('\n'), [
    'ready: per-process microphone monitor',
    'page-urls for org.example.browser: 2 page(s)',
    '  https://example.org/agenda',
    '  https://example.com/notes?day=1',
    'microphone input started by pid 502 of Meeting (org.example.meeting, pid 501)',
    'agent exited with code 0',
  ]);
});
