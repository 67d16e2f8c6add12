// Type-checked only (tsc --strict): the ES module view of the declarations.
import {
  startAgent, superviseAgent, MicActivity, TondrelError, findAgent, version, knownBrowsers, browserIds,
  checkApp, waitForTrust,
} from '@tondrel/client';
import type { MicEvent, PageUrlsResult, SupervisedReadyEvent, ActiveApplication, TondrelErrorCode } from '@tondrel/client';
import { morvane, available, loadError } from '@tondrel/morvane';
import type { MorvaneLoadError } from '@tondrel/morvane';
import morvaneModule from '@tondrel/morvane';
import { findSim } from '@tondrel/sim';

const agent = startAgent({ stderr: 'ignore' });
const other = startAgent(findAgent('tondrel-sim'), { args: ['scenario.json'] });
agent.on('mic', (event: MicEvent) => {
  const pid: number | null = event.pid;
  void pid;
});
agent.on('error', (error: TondrelError) => {
  const code: TondrelErrorCode = error.code;
  void code;
});
const result: Promise<PageUrlsResult> = agent.pageUrls({ bundleIds: [...knownBrowsers.darwin, ...browserIds('linux')] },
  { signal: AbortSignal.timeout(1000), timeoutMs: 500 });
void result;

const supervisor = superviseAgent({ restartDelayMs: 100, maxRestarts: 3, restartWindowMs: 60000 });
supervisor.on('ready', (event: SupervisedReadyEvent) => {
  const unknown: boolean = event.micStateUnknown;
  void unknown;
});
supervisor.on('exit', ({ restartInMs }) => {
  const wait: number | null = restartInMs;
  void wait;
});
const view = new MicActivity(supervisor);
view.on('start', (app: ActiveApplication) => {
  const pids: readonly number[] = app.pids;
  void pids;
});
await waitForTrust(supervisor, { initialDelayMs: 100, maxDelayMs: 1000 });
const stopped: boolean = supervisor.stopped;
await supervisor.close({ drain: true, timeout: 2000 });

const answered: boolean = morvane(Buffer.alloc(8));
const same: boolean = morvaneModule.morvane === morvane;
const reason: MorvaneLoadError | null = loadError;
const loaded: boolean = available;
const v: string = version;
const { problems }: { problems: string[] } = checkApp('YourApp.app');
const sim: string = findSim();
void [answered, same, v, other, reason, loaded, stopped, problems, sim];
