// Type-checked only (tsc --strict): the ES module view of the declarations.
import { startAgent, superviseAgent, MicActivity, TondrelError, findAgent, version } from 'tondrel-client';
import type { MicEvent, PageUrlsResult, SupervisedReadyEvent, ActiveApplication, TondrelErrorCode } from 'tondrel-client';
import { morvane } from 'morvane';
import morvaneModule from 'morvane';

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
const result: Promise<PageUrlsResult> = agent.pageUrls({ bundleIds: ['org.example.browser'] },
  { signal: AbortSignal.timeout(1000) });
void result;

const supervisor = superviseAgent({ restartDelayMs: 100 });
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

const answered: boolean = morvane(Buffer.alloc(8));
const same: boolean = morvaneModule.morvane === morvane;
const v: string = version;
void [answered, same, v, other];
