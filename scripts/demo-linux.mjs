// The real agent on a Linux desktop of its own: a private session with an X
// display, the accessibility bus, PipeWire when the session harness can start
// it, Firefox ESR with two pages and a recording from the microphone. Prints
// every line a host would send and receive, then stops everything it started.
//   node scripts/demo-linux.mjs TONDREL
import { existsSync } from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const harness = path.join(here, '..', 'tests', 'support', 'services');
const { startSession } = await import(path.join(harness, 'session.mjs'));
const { startDisplay } = await import(path.join(harness, 'display.mjs'));
const { startAccessibilityBus, accessibilityEnabled } = await import(path.join(harness, 'a11y.mjs'));
const { startFirefox, writePages } = await import(path.join(harness, 'browsers.mjs'));

const [tondrel] = process.argv.slice(2);
const note = (text) => console.log(`   # ${text}`);

const session = await startSession({ name: 'demo' });
let status = 0;
try {
  await startDisplay(session);
  await startAccessibilityBus(session);
  let audio = null;
  const audioHarness = path.join(harness, 'audio.mjs');
  if (existsSync(audioHarness)) {
    const { startAudio } = await import(audioHarness);
    await startAudio(session);
    audio = true;
  }
  note(`private session in ${session.dir}, display ${session.env.DISPLAY}`);
  const pages = writePages(session, ['Quarterly report', 'Team calendar']);
  const firefox = await startFirefox(session, { windows: pages });
  note(`Firefox ESR (pid ${firefox.pid}) shows two windows; accessibility is `
    + `${(await accessibilityEnabled(session)) ? 'on' : 'off'} in the session`);

  const agent = session.spawn(tondrel, [], { stdio: ['pipe', 'pipe', 'pipe'], name: 'tondrel' });
  const lines = readline.createInterface({ input: agent.stdout });
  const waiting = [];
  lines.on('line', (line) => {
    console.log(`<- ${line}`);
    const message = JSON.parse(line);
    for (const w of waiting.splice(0)) w(message);
  });
  const next = (match) => new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no answer from tondrel within 30 s')), 30000);
    const check = (message) => {
      if (match(message)) {
        clearTimeout(timer);
        resolve(message);
      } else {
        waiting.push(check);
      }
    };
    waiting.push(check);
  });
  const send = (command) => {
    const line = JSON.stringify(command);
    console.log(`-> ${line}`);
    agent.stdin.write(`${line}\n`);
  };

  await next((m) => m.event === 'ready');
  send({ cmd: 'page-urls', id: 1, pid: firefox.pid });
  await next((m) => m.id === 1);
  send({ cmd: 'page-urls', id: 2, bundleIds: ['firefox-esr'] });
  await next((m) => m.id === 2);
  note(`accessibility is ${(await accessibilityEnabled(session)) ? 'on' : 'off'} again`);

  if (audio) {
    const recorder = session.spawn('pw-record', [path.join(session.dir, 'demo.wav')],
      { name: 'pw-record' });
    note(`pw-record (pid ${recorder.pid}) records from the microphone`);
    await next((m) => m.event === 'mic' && m.running === true);
    await session.stopProcess(recorder);
    note('pw-record stopped');
    await next((m) => m.event === 'mic' && m.running === false);
  } else {
    note('no PipeWire harness here: the microphone part is skipped');
  }

  agent.stdin.end();
  const code = await new Promise((resolve) => {
    const timer = setTimeout(() => resolve('still running after 10 s'), 10000);
    agent.once('exit', (exitCode) => {
      clearTimeout(timer);
      resolve(exitCode);
    });
  });
  note(`input closed; tondrel exited with ${code}`);
  if (code !== 0) status = 1;
} catch (error) {
  console.error(`demo failed: ${error.message}`);
  status = 1;
} finally {
  await session.stop();
  note('everything the demo started is stopped');
}
process.exit(status);
