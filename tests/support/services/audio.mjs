// PipeWire for a private session: the daemon, its session manager and its
// PulseAudio server, in the session's runtime folder and on its bus, with a
// null microphone made the default source.
import { existsSync } from 'node:fs';
import path from 'node:path';

import { describeProcess, hasEnded } from './session.mjs';

export const sourceName = 'tondrel-mic';

function stillRunning(children) {
  for (const child of children) {
    if (hasEnded(child)) throw new Error(describeProcess(child));
  }
}

// The registry as pw-dump sees it, or null while PipeWire does not answer.
export async function dump(session) {
  const result = await session.run('pw-dump', ['--no-colors'], { timeoutMs: 5000 });
  if (result.code !== 0) return null;
  try {
    return JSON.parse(result.stdout);
  } catch {
    return null;
  }
}

// Capture streams with their state, the pid PipeWire records for them (the
// node's own, else its client's) and the media classes of the nodes that feed
// them.
export async function captureStreams(session) {
  const objects = await dump(session);
  if (!objects) return [];
  const clients = new Map();
  const classes = new Map();
  for (const o of objects) {
    if (o.type === 'PipeWire:Interface:Client') clients.set(o.id, o.info?.props ?? {});
    if (o.type === 'PipeWire:Interface:Node') classes.set(o.id, o.info?.props?.['media.class']);
  }
  const feeders = new Map();
  for (const o of objects) {
    if (o.type !== 'PipeWire:Interface:Link') continue;
    const input = o.info?.['input-node-id'];
    feeders.set(input, [...(feeders.get(input) ?? []), classes.get(o.info?.['output-node-id'])]);
  }
  const streams = [];
  for (const o of objects) {
    const props = o.info?.props ?? {};
    if (o.type !== 'PipeWire:Interface:Node' || props['media.class'] !== 'Stream/Input/Audio') continue;
    const client = clients.get(props['client.id']) ?? {};
    streams.push({
      id: o.id,
      state: o.info?.state,
      pid: Number(props['application.process.id'] ?? client['application.process.id']),
      from: feeders.get(o.id) ?? [],
    });
  }
  return streams;
}

// Waits until a capture stream of this pid runs; answers the stream.
export function waitForCapture(session, pid, what = `capture of ${pid} running`) {
  return session.waitFor(async () => (await captureStreams(session))
    .find((s) => s.pid === pid && s.state === 'running' && s.from.length > 0), { timeoutMs: 15000, what });
}

// Starts pipewire, wireplumber and pipewire-pulse in the session and a null
// source of media class Audio/Source/Virtual made the default input. Answers
// once PipeWire, its PulseAudio server and the default source all answer.
export async function startAudio(session) {
  const started = [];
  try {
    const pipewire = session.spawn('pipewire', [], { name: 'pipewire' });
    started.push(pipewire);
    await session.waitFor(async () => {
      stillRunning(started);
      return (await session.run('pw-cli', ['info', '0'], { timeoutMs: 3000 })).code === 0;
    }, { what: 'pipewire to answer' });

    const wireplumber = session.spawn('wireplumber', [], { name: 'wireplumber' });
    const pulse = session.spawn('pipewire-pulse', [], { name: 'pipewire-pulse' });
    started.push(wireplumber, pulse);
    // pactl would make the server's folder itself if asked before the server
    // has, and the server then refuses to start: wait for its socket first.
    const socket = path.join(session.env.XDG_RUNTIME_DIR, 'pulse', 'native');
    await session.waitFor(async () => {
      stillRunning(started);
      return existsSync(socket) &&
        (await session.run('pactl', ['info'], { timeoutMs: 3000 })).code === 0;
    }, { what: 'pipewire-pulse to answer' });

    const load = await session.run('pactl', ['load-module', 'module-null-sink',
      `sink_name=${sourceName}`, 'media.class=Audio/Source/Virtual', 'channels=1',
      `sink_properties=node.description=Tondrel-test-microphone`]);
    if (load.code !== 0) throw new Error(`loading the null source failed: ${load.stderr}`);
    // The session manager turns the configured default into the default once
    // it has seen the node.
    await session.waitFor(async () => {
      stillRunning(started);
      await session.run('pactl', ['set-default-source', sourceName]);
      const metadata = await session.run('pw-metadata', ['-n', 'default', '0', 'default.audio.source']);
      return metadata.code === 0 && metadata.stdout.includes(`"name":"${sourceName}"`);
    }, { what: `${sourceName} as the default source` });

    return {
      pipewire, wireplumber, pulse,
      // Stops the three by pid, the PulseAudio server and session manager
      // first.
      async stop() {
        for (const child of [pulse, wireplumber, pipewire]) await session.stopProcess(child);
      },
    };
  } catch (error) {
    for (const child of started.reverse()) await session.stopProcess(child);
    throw error;
  }
}

// Loads a null sink (an output whose monitor can be captured).
export async function addSink(session, name) {
  const load = await session.run('pactl', ['load-module', 'module-null-sink', `sink_name=${name}`,
    'media.class=Audio/Sink', 'channels=2']);
  if (load.code !== 0) throw new Error(`loading the null sink failed: ${load.stderr}`);
  await session.waitFor(async () => (await session.run('pactl', ['list', 'short', 'sources'])).stdout
    .includes(`${name}.monitor`), { what: `${name}.monitor` });
}

export function recordingPath(session, name) {
  return path.join(session.dir, `${name}.wav`);
}
