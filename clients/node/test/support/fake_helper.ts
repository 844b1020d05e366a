#!/usr/bin/env node
// A stand-in for talvorin-audio-helper that speaks the wire protocol with known content.
// FAKE_SCENARIO picks what it says, FAKE_CHUNKING how it cuts its writes (whole, bytes,
// random), FAKE_REPORT a file that receives its arguments and environment as JSON.

import { writeFileSync } from 'node:fs';
import { cut, encodeFrames, knownFrames, sampleAt, type Chunking } from './known_stream.js';

const scenario = process.env['FAKE_SCENARIO'] ?? 'capture';
const chunking = (process.env['FAKE_CHUNKING'] ?? 'whole') as Chunking;
const frameCount = Number(process.env['FAKE_FRAMES'] ?? '20');
const seed = Number(process.env['FAKE_SEED'] ?? '7');
const includePid = process.env['TALVORIN_AUDIO_INCLUDE_PID'];

if (process.env['FAKE_REPORT']) {
  writeFileSync(process.env['FAKE_REPORT'], JSON.stringify({ argv: process.argv.slice(2), includePid: includePid ?? null }));
}

// A reader that goes away ends the helper, as the real one does.
process.stdout.on('error', () => process.exit(0));

type Stream = 'out' | 'err';
const line = (event: object): Buffer => Buffer.from(`${JSON.stringify(event)}\n`);

function write(stream: Stream, bytes: Uint8Array): Promise<void> {
  const target = stream === 'out' ? process.stdout : process.stderr;
  return new Promise((resolve) => target.write(bytes, () => setImmediate(resolve)));
}

async function play(steps: [Stream, Buffer][]): Promise<void> {
  let n = 0;
  for (const [stream, bytes] of steps) {
    for (const piece of cut(bytes, chunking, seed + n++)) await write(stream, piece);
  }
}

const hang = (): void => {
  setInterval(() => undefined, 1 << 30);
};

const startupLines = (): [Stream, Buffer][] => {
  const steps: [Stream, Buffer][] = [
    ['err', line({ type: 'starting', engine: 'pulseaudio-monitor', pid: process.pid })],
    ['err', line({ type: 'output.device', deviceID: 2, deviceUID: 'fake_sink' })],
  ];
  if (includePid) {
    steps.push(['err', line({ type: 'target.processes', processObjects: includePid.split(',').map(Number) })]);
  }
  steps.push(
    ['err', line({ type: 'tap.created', tapID: 3, tapUUID: 'A-B', tapUID: 'A-B' })],
    [
      'err',
      line({ type: 'format', sampleRate: 48000, channels: 2, bitsPerChannel: 32, bytesPerFrame: 8, formatFlags: 9 }),
    ],
  );
  return steps;
};

const ready = line({ type: 'ready', engine: 'pulseaudio-monitor', sampleRate: 16000, channels: 1 });

async function main(): Promise<void> {
  switch (scenario) {
    case 'capture': {
      // Two frames come before "ready" (the device starts on its own queue), the rest after,
      // with the statistics lines and the stream of event lines interleaved.
      const frames = knownFrames(frameCount);
      const steps = startupLines();
      steps.push(['out', encodeFrames(frames.slice(0, 2))], ['err', ready]);
      steps.push(['err', line({ type: 'capture.started', aggregateDeviceID: 4 })]);
      // Something else on standard error (a runtime's diagnostic, say) must not stop the capture.
      steps.push(['err', Buffer.from('==4711== not an event line\n')]);
      frames.slice(2).forEach((frame, i) => {
        steps.push(['out', encodeFrames([frame])]);
        if (i % 5 === 0) steps.push(['err', line({ type: 'chunk', chunks: i + 3, bytes: 1000, rms: 0.25, peak: 0.5 })]);
      });
      await play(steps);
      if (process.env['FAKE_THEN'] === 'exit') process.exit(Number(process.env['FAKE_EXIT_STATUS'] ?? '0'));
      hang();
      return;
    }
    case 'stream': {
      // Real-time pace: 320 samples every 20 ms until killed.
      await play([...startupLines(), ['err', ready]]);
      let k = 0;
      setInterval(() => {
        const frame = new Int16Array(320);
        for (let j = 0; j < frame.length; j++) frame[j] = sampleAt(k++);
        process.stdout.write(encodeFrames([frame]));
      }, 20);
      return;
    }
    case 'start-failed':
      await play([
        ['err', line({ type: 'starting', engine: 'pulseaudio-monitor', pid: process.pid })],
        ['err', line({ type: 'error', code: 'capture_start_failed', message: process.env['FAKE_MESSAGE'] ?? '' })],
      ]);
      process.exit(3);
      return;
    case 'exit-early':
      await play([['err', line({ type: 'starting', engine: 'pulseaudio-monitor', pid: process.pid })]]);
      process.exit(1);
      return;
    case 'silent':
      hang();
      return;
    case 'odd-frame': {
      const bad = Buffer.alloc(4 + 3);
      bad.writeUInt32LE(3, 0);
      await play([...startupLines(), ['err', ready], ['out', encodeFrames(knownFrames(1))], ['out', bad]]);
      hang();
      return;
    }
    case 'watch': {
      if (!process.argv.includes('--watch-input-processes')) process.exit(64);
      await play([
        ['out', line({ type: 'audio-input-processes', processes: [] })],
        [
          'out',
          line({
            type: 'audio-input-processes',
            processes: [
              { pid: 450, bundleId: 'com.example.rec' },
              { pid: 900, bundleId: 'com.example.rec' },
            ],
          }),
        ],
        [
          'out',
          line({
            type: 'error',
            code: 'audio_process_probe_failed',
            message: 'AudioObjectGetPropertyData(process object list) failed with OSStatus -50 (-50).',
          }),
        ],
        ['out', line({ type: 'audio-input-processes', processes: [{ pid: 77, bundleId: '' }] })],
      ]);
      if (process.env['FAKE_THEN'] === 'exit') process.exit(0);
      hang();
      return;
    }
    default:
      process.stderr.write(`unknown FAKE_SCENARIO ${scenario}\n`);
      process.exit(64);
  }
}

void main();
