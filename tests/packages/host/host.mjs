// An ES module host: the supervisor and the per-application view, on the
// scenario runner from the platform package; morvane by named and default
// import.
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { superviseAgent, MicActivity, findAgent, startAgent, version } from 'tondrel-client';
import { morvane } from 'morvane';
import morvaneModule from 'morvane';

assert.equal(morvane, morvaneModule.morvane);
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
assert.deepEqual(await agent.close(), { code: 0, signal: null });
console.log(`ok: ES module host, tondrel-client ${version}, ${app.appName} using the microphone`);
