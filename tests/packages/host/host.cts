// Type-checked only (tsc --strict): the CommonJS view of the declarations.
import { startAgent, attachAgent, maxLineLength, TondrelClient, waitForTrust } from '@tondrel/client';
import morvane = require('@tondrel/morvane');
import sim = require('@tondrel/sim');
import { spawn } from 'node:child_process';

const agent: TondrelClient = startAgent({ requestTimeoutMs: 2000, debug: true });
const wrapped = attachAgent(spawn('tondrel', { stdio: ['pipe', 'pipe', 'inherit'] }),
  { debug: (direction, line) => void [direction === '>', line.length] });
const limit: number = maxLineLength;
const answered: boolean = morvane.morvane(Buffer.alloc(8));
const why: string | undefined = morvane.loadError?.message;
const runner: string = sim.findSim();
const trusted: Promise<void> = waitForTrust(agent, { signal: AbortSignal.timeout(1000) });
void [agent, wrapped, limit, answered, why, runner, trusted];
