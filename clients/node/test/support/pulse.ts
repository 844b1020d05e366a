// Throwaway PulseAudio servers (one with no sink, for the start that must fail; one with an
// input source, for a recorder to record from), and a tone player.

import { spawn, spawnSync, type ChildProcess } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { setTimeout as delay } from 'node:timers/promises';

export function commandPresent(name: string): boolean {
  return spawnSync('sh', ['-c', `command -v ${name}`]).status === 0;
}

export interface PrivateServer {
  env: NodeJS.ProcessEnv;
  stop(): Promise<void>;
}

/**
 * Starts a server in a directory of its own with the socket and `modules` (each a module name
 * and its arguments), and nothing else: with no module of its own no sink exists.
 */
export async function startPrivateServer(modules: string[] = []): Promise<PrivateServer> {
  const dir = mkdtempSync(join(tmpdir(), 'talvorin-private-'));
  for (const sub of ['runtime', 'state', 'config', 'home']) mkdirSync(join(dir, sub));
  const env: NodeJS.ProcessEnv = {
    ...process.env,
    PULSE_RUNTIME_PATH: join(dir, 'runtime'),
    PULSE_STATE_PATH: join(dir, 'state'),
    XDG_CONFIG_HOME: join(dir, 'config'),
    HOME: join(dir, 'home'),
    PULSE_SERVER: `unix:${join(dir, 'native')}`,
  };
  const server: ChildProcess = spawn(
    'pulseaudio',
    [
      '-n',
      '--daemonize=no',
      '--system=no',
      '--use-pid-file=no',
      '--exit-idle-time=-1',
      '--disallow-exit',
      '--high-priority=no',
      '--realtime=no',
      `--log-target=file:${join(dir, 'log')}`,
      `--load=module-native-protocol-unix socket=${join(dir, 'native')} auth-anonymous=1`,
      ...modules.map((module) => `--load=${module}`),
    ],
    { env, stdio: 'ignore' },
  );
  const ended = new Promise<void>((resolve) => server.once('close', () => resolve()));
  const stop = async (): Promise<void> => {
    server.kill('SIGTERM');
    const killer = setTimeout(() => server.kill('SIGKILL'), 2000);
    await ended;
    clearTimeout(killer);
    rmSync(dir, { recursive: true, force: true });
  };
  // The server answers within tens of milliseconds; poll for up to five seconds.
  for (let attempt = 0; attempt < 250; attempt++) {
    if (spawnSync('pactl', ['info'], { env, stdio: 'ignore' }).status === 0) return { env, stop };
    if (server.exitCode !== null) break;
    await delay(20);
  }
  await stop();
  throw new Error('the private PulseAudio server did not start');
}

/**
 * Plays a sine tone through pacat on the default sink of PULSE_SERVER: 16-bit mono at
 * 48000 Hz, so the helper's resampling is part of what is checked.
 */
export function playTone(frequency: number, amplitude: number, seconds: number): ChildProcess {
  const rate = 48000;
  const samples = Math.round(rate * seconds);
  const pcm = Buffer.alloc(samples * 2);
  for (let i = 0; i < samples; i++) {
    pcm.writeInt16LE(Math.round(amplitude * 32767 * Math.sin((2 * Math.PI * frequency * i) / rate)), i * 2);
  }
  const player = spawn('pacat', ['--playback', '--format=s16le', `--rate=${rate}`, '--channels=1', '--latency-msec=20'], {
    stdio: ['pipe', 'ignore', 'ignore'],
  });
  player.stdin?.on('error', () => undefined);
  player.stdin?.end(pcm);
  return player;
}
