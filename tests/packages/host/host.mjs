// An ES module host: the supervisor and the per-application view, on the
// scenario runner of @tondrel/sim; morvane by named and default import; a
// supervisor given a program that does not exist gives up at once.
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { superviseAgent, MicActivity, findAgent, startAgent, version } from '@tondrel/client';
import { morvane, available } from '@tondrel/morvane';
import morvaneModule from '@tondrel/morvane';

assert.equal(morvane, morvaneModule.morvane);
assert.equal(available, true);
assert.equal(morvane(Buffer.alloc(3)), false);

const plain = startAgent();
assert.equal(typeof (await plain.ready).perProcess, 'boolean');
assert.deepEqual(await plain.close(), { code: 0, signal: null });

const scenario = fileURLToPath(new URL('./scenario.json', import.meta.url));
const agent = superviseAgent(findAgent('tondrel-sim'), { args: ['--speed', '8', scenario] });
agent.on('error', (error) => assert.fail(error));
const view = new MicActivity(agent);
const started = new Promise((resolve) => view.once('start', resolve));
assert.deepEqual(await agent.ready, { perProcess: true, restarts: 0, micStateUnknown: false });
const app = await started;
assert.equal(app.bundleId, 'org.example.meeting');
assert.deepEqual(await agent.close({ drain: true }), { code: 0, signal: null });

const missing = superviseAgent(fileURLToPath(new URL('./no-such-agent', import.meta.url)));
const closed = new Promise((resolve) => missing.once('close', resolve));
const failed = await missing.ready.then(() => assert.fail('a missing program became ready'), (error) => error);
assert.deepEqual([failed.code, failed.cause?.code], ['ERR_TONDREL_SPAWN', 'ENOENT']);
assert.deepEqual([await closed, missing.restarts, missing.stopped], [{ code: null, signal: null }, 0, true]);
console.log(`ok: ES module host, @tondrel/client ${version}, ${app.appName} using the microphone; a missing agent rejects ready`);
