// An X display of the session's own: Xvfb on a free display number, with a
// window manager, so focus and activation behave as on a desktop.
import { describeProcess, hasEnded } from './session.mjs';

function displayNumber(child) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('Xvfb chose no display within 10 s')), 10000);
    child.stdio[3].setEncoding('utf8');
    child.stdio[3].on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) {
        clearTimeout(timer);
        resolve(text.trim());
      }
    });
    child.once('exit', (code, signal) => {
      clearTimeout(timer);
      reject(new Error(`Xvfb exited (${code ?? signal}): ${child.stderrTail ?? ''}`));
    });
  });
}

// How long one window manager start may take before it is given up and
// started again. Generous: on a loaded machine with the sanitizer build
// beside it, a first start that reads the fonts can take seconds.
const windowManagerStartMs = 20000;
const windowManagerAttempts = 2;

// Starts openbox and waits until it manages windows. A window manager that
// ends or does not come up in time is started again once; the error then
// says what it printed, so a failure on another machine can be understood.
async function startWindowManager(session, display, xvfb) {
  const problems = [];
  for (let attempt = 1; attempt <= windowManagerAttempts; attempt++) {
    const wm = session.spawn('openbox', ['--sm-disable'], { name: 'openbox' });
    try {
      await waitUntilManaging(session, display, wm, xvfb);
      return;
    } catch (error) {
      problems.push(`attempt ${attempt}: ${error.message}` +
        (hasEnded(wm) ? '' : ` (${describeProcess(wm)})`));
      if (hasEnded(xvfb)) break;
      if (!hasEnded(wm)) await session.stopProcess(wm);
    }
  }
  throw new Error(`no window manager on ${display}: ${problems.join('; ')}`);
}

async function waitUntilManaging(session, display, wm, xvfb) {
  const options = (what, extra = {}) => ({ timeoutMs: windowManagerStartMs, what, ...extra });
  const alive = () => {
    for (const child of [xvfb, wm]) {
      if (hasEnded(child)) throw Object.assign(new Error(describeProcess(child)), { fatal: true });
    }
  };
  // An EWMH window manager announces itself on the root window early in its
  // start-up, before it handles requests: a window mapped in that gap may
  // never be managed. So it is also asked to change the number of desktops,
  // and back, which it does only from its event loop.
  await session.waitFor(async () => {
    alive();
    const { code, stdout } = await session.run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']);
    return code === 0 && /window id #/.test(stdout);
  }, options(`the window manager on ${display} to announce itself`));
  const desktops = async () => {
    alive();
    const { code, stdout } = await session.run('xdotool', ['get_num_desktops']);
    return code === 0 ? Number(stdout.trim()) : NaN;
  };
  const count = await session.waitFor(async () => {
    const n = await desktops();
    return n >= 1 ? n : null;
  }, options(`the number of desktops on ${display}`));
  for (const wanted of [count + 1, count]) {
    await session.waitFor(async () => {
      alive();
      await session.run('xdotool', ['set_num_desktops', String(wanted)]);
      return (await desktops()) === wanted;
    }, options(`the window manager on ${display} to handle requests`, { intervalMs: 50 }));
  }
}

export async function startDisplay(session, { windowManager = true, size = '1280x1024x24' } = {}) {
  // -displayfd makes Xvfb pick a free display and write its number once it
  // accepts connections.
  const xvfb = session.spawn('Xvfb', ['-displayfd', '3', '-screen', '0', size, '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'], name: 'Xvfb' });
  xvfb.stdio[3].unref?.();
  const display = `:${await displayNumber(xvfb)}`;
  session.env.DISPLAY = display;

  if (windowManager) await startWindowManager(session, display, xvfb);
  return { display };
}
