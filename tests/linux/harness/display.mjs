// An X display of the session's own: Xvfb on a free display number, with a
// window manager, so focus and activation behave as on a desktop.
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

export async function startDisplay(session, { windowManager = true, size = '1280x1024x24' } = {}) {
  // -displayfd makes Xvfb pick a free display and write its number once it
  // accepts connections.
  const xvfb = session.spawn('Xvfb', ['-displayfd', '3', '-screen', '0', size, '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'], name: 'Xvfb' });
  xvfb.stdio[3].unref?.();
  const display = `:${await displayNumber(xvfb)}`;
  session.env.DISPLAY = display;

  if (windowManager) {
    session.spawn('openbox', ['--sm-disable'], { name: 'openbox' });
    // An EWMH window manager announces itself on the root window early in its
    // start-up, before it handles requests: a window mapped in that gap may
    // never be managed. So it is also asked to change the number of desktops,
    // and back, which it does only from its event loop.
    await session.waitFor(async () => {
      const { code, stdout } = await session.run('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']);
      return code === 0 && /window id #/.test(stdout);
    }, { what: 'the window manager on ' + display });
    const desktops = async () => {
      const { code, stdout } = await session.run('xdotool', ['get_num_desktops']);
      return code === 0 ? Number(stdout.trim()) : NaN;
    };
    const count = await session.waitFor(async () => {
      const n = await desktops();
      return n >= 1 ? n : null;
    }, { what: 'the number of desktops on ' + display });
    for (const wanted of [count + 1, count]) {
      await session.waitFor(async () => {
        await session.run('xdotool', ['set_num_desktops', String(wanted)]);
        return (await desktops()) === wanted;
      }, { what: `the window manager on ${display} to handle requests`, intervalMs: 50 });
    }
  }
  return { display };
}
