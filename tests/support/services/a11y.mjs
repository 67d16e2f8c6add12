// The session's accessibility bus: at-spi-bus-launcher started by the test,
// and the session-wide switch (org.a11y.Status IsEnabled) that toolkits
// watch to expose their accessibility trees.
import { writeFileSync } from 'node:fs';
import path from 'node:path';

const launcherProgram = '/usr/libexec/at-spi-bus-launcher';

function busCall(session, args, { env } = {}) {
  return session.run('dbus-send', ['--session', '--print-reply=literal', ...args], { env });
}

async function nameOwned(session, name) {
  const { code, stdout } = await busCall(session, ['--dest=org.freedesktop.DBus',
    '/org/freedesktop/DBus', 'org.freedesktop.DBus.NameHasOwner', `string:${name}`]);
  return code === 0 && /true/.test(stdout);
}

// Starts the launcher with the accessibility bus at once, and answers when
// the launcher hands out the bus's address and that bus answers. Start the
// display first: the launcher also publishes the address on its root window.
export async function startAccessibilityBus(session) {
  const launcher = session.spawn(launcherProgram, ['--launch-immediately'],
    { name: 'at-spi-bus-launcher' });
  // Asked only once the launcher owns its name: a call before that would make
  // the session bus start a launcher of its own.
  await session.waitFor(() => nameOwned(session, 'org.a11y.Bus'),
    { what: 'at-spi-bus-launcher on the session bus' });
  const address = await session.waitFor(async () => {
    const { code, stdout } = await busCall(session, ['--dest=org.a11y.Bus', '/org/a11y/bus',
      'org.a11y.Bus.GetAddress']);
    return code === 0 && stdout.trim() ? stdout.trim() : null;
  }, { what: 'the accessibility bus address' });
  await session.waitFor(async () => {
    const { code } = await session.run('dbus-send', [`--bus=${address}`, '--print-reply',
      '--dest=org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus.Peer.Ping']);
    return code === 0;
  }, { what: 'the accessibility bus' });
  return {
    address,
    pid: launcher.pid,
    stop: () => session.stopProcess(launcher),
  };
}

export async function accessibilityEnabled(session) {
  const { code, stdout, stderr } = await busCall(session, ['--dest=org.a11y.Bus', '/org/a11y/bus',
    'org.freedesktop.DBus.Properties.Get', 'string:org.a11y.Status', 'string:IsEnabled']);
  if (code !== 0) throw new Error(`reading IsEnabled failed: ${stderr.trim()}`);
  if (/\btrue\b/.test(stdout)) return true;
  if (/\bfalse\b/.test(stdout)) return false;
  throw new Error(`IsEnabled reads ${JSON.stringify(stdout)}`);
}

export async function setAccessibilityEnabled(session, enabled) {
  const { code, stderr } = await busCall(session, ['--dest=org.a11y.Bus', '/org/a11y/bus',
    'org.freedesktop.DBus.Properties.Set', 'string:org.a11y.Status', 'string:IsEnabled',
    `variant:boolean:${enabled ? 'true' : 'false'}`]);
  if (code !== 0) throw new Error(`setting IsEnabled failed: ${stderr.trim()}`);
}

// A session bus that starts no services on demand, as on a machine without
// the accessibility packages: asking it for the accessibility bus fails at
// once. Answers its address.
export async function startBusWithoutServices(session) {
  const socket = path.join(session.dir, 'bare-bus');
  const config = path.join(session.dir, 'bare-bus.conf');
  writeFileSync(config, `<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=${socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
`);
  const bus = session.spawn('dbus-daemon', ['--nofork', '--nopidfile', `--config-file=${config}`,
    '--print-address=1'], { stdio: ['ignore', 'pipe', 'pipe'], name: 'dbus-daemon (bare)' });
  const address = await new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('bare dbus-daemon: no address')), 10000);
    bus.stdout.setEncoding('utf8');
    bus.stdout.on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) {
        clearTimeout(timer);
        resolve(text.split('\n')[0].trim());
      }
    });
    bus.once('exit', () => {
      clearTimeout(timer);
      reject(new Error(`bare dbus-daemon exited: ${bus.stderrTail ?? ''}`));
    });
  });
  return { address, pid: bus.pid, stop: () => session.stopProcess(bus) };
}
