// Type-checked only (tsc --strict): the CommonJS view of the declarations.
import { startAgent, attachAgent, maxLineLength, TondrelClient } from 'tondrel-client';
import morvane = require('morvane');
import { spawn } from 'node:child_process';

const agent: TondrelClient = startAgent();
const wrapped = attachAgent(spawn('tondrel', { stdio: ['pipe', 'pipe', 'inherit'] }));
const limit: number = maxLineLength;
const answered: boolean = morvane.morvane(Buffer.alloc(8));
void [agent, wrapped, limit, answered];
