// The client against the real helper binary and a real PulseAudio server. tests/e2e/run
// starts the server; TALVORIN_HELPER_PATH names the built binary. Without both, these
// tests are reported as skipped.

import assert from 'node:assert/strict';
import type { ChildProcess } from 'node:child_process';
import { describe, it } from 'node:test';
import { startCapture, type Capture } from '../src/capture.js';
import { HelperStartError } from '../src/errors.js';
import type { InputProcess } from '../src/events.js';
import { spawn } from 'node:child_process';
import { watchInputProcesses } from '../src/watch.js';
import { commandPresent, playTone, startPrivateServer } from './support/pulse.js';

const helperPath = process.env['TALVORIN_HELPER_PATH'];
const skip =
  !helperPath || !process.env['PULSE_SERVER']
    ? 'needs TALVORIN_HELPER_PATH (a built helper) and PULSE_SERVER (a running server); tests/e2e/run sets both'
    : !commandPresent('pacat') || !commandPresent('pulseaudio')
      ? 'needs pacat and pulseaudio (pulseaudio-utils, pulseaudio)'
      : false;

const toneHz = 1000;
const toneAmplitude = 0.5;

/**
 * Collects frames until `seconds` of audio after the tone's onset have come, or what came by
 * `timeoutMs`. The onset is the first sample louder than a tenth of full scale; the 50 ms after
 * it are skipped, so that the player and the resampler have settled.
 */
async function captureTone(capture: Capture, seconds: number, timeoutMs: number): Promise<Int16Array> {
  const wanted = seconds * 16000;
  const settle = 800;
  const threshold = 0.1 * 32768;
  const tone: number[] = [];
  let onset: number | undefined;
  let position = 0;
  const deadline = setTimeout(() => void capture.stop(), timeoutMs);
  try {
    for await (const frame of capture) {
      for (const sample of frame) {
        if (onset === undefined && Math.abs(sample) > threshold) onset = position;
        if (onset !== undefined && position >= onset + settle) tone.push(sample);
        position++;
      }
      if (tone.length >= wanted) break;
    }
  } finally {
    clearTimeout(deadline);
  }
  return Int16Array.from(tone.slice(0, wanted));
}

function analyse(samples: Int16Array): { frequency: number; rms: number } {
  let crossings = 0;
  let sumOfSquares = 0;
  for (let i = 0; i < samples.length; i++) {
    const x = (samples[i] as number) / 32768;
    sumOfSquares += x * x;
    if (i > 0 && (samples[i - 1] as number) < 0 !== (samples[i] as number) < 0) crossings++;
  }
  const seconds = samples.length / 16000;
  return { frequency: crossings / 2 / seconds, rms: Math.sqrt(sumOfSquares / samples.length) };
}

function assertTone(samples: Int16Array): void {
  assert.ok(samples.length >= 8000, `only ${samples.length} samples of the tone arrived`);
  const { frequency, rms } = analyse(samples);
  assert.ok(Math.abs(frequency - toneHz) < toneHz * 0.02, `tone at ${frequency.toFixed(1)} Hz, want ${toneHz}`);
  const wantRms = toneAmplitude / Math.SQRT2;
  const errorDb = 20 * Math.log10(rms / wantRms);
  assert.ok(Math.abs(errorDb) < 1.5, `tone level ${rms.toFixed(4)} RMS is ${errorDb.toFixed(2)} dB off ${wantRms.toFixed(4)}`);
}

// Skipped test by test, so that the runner counts each one as skipped.
describe('the client with the real helper', () => {
  it('captures a tone played on the default output: same frequency, same level', { skip }, async () => {
    const capture = await startCapture({ pids: [] });
    assert.deepEqual([capture.ready.sampleRate, capture.ready.channels], [16000, 1]);
    assert.equal(capture.ready.engine, 'pulseaudio-monitor');
    let player: ChildProcess | undefined;
    try {
      player = playTone(toneHz, toneAmplitude, 4);
      assertTone(await captureTone(capture, 1, 8000));
    } finally {
      player?.kill();
      await capture.stop();
    }
  });

  it('captures the tone of one process named in pids', { skip }, async () => {
    const player = playTone(toneHz, toneAmplitude, 5);
    try {
      // The helper looks the process's streams up when it starts: let the player connect.
      await new Promise((resolve) => setTimeout(resolve, 300));
      const capture = await startCapture({ pids: [player.pid as number] });
      const events: string[] = [];
      capture.on('event', (event) => events.push(event.type));
      try {
        assertTone(await captureTone(capture, 1, 8000));
        assert.ok(events.includes('target.processes'), `events: ${events.join(', ')}`);
      } finally {
        await capture.stop();
      }
    } finally {
      player.kill();
    }
  });

  it('rejects with the helper message and exit status 3 when the server has no sink', { skip }, async () => {
    const server = await startPrivateServer();
    try {
      const started = startCapture({ env: server.env, pids: [] });
      await assert.rejects(started, (error: unknown) => {
        assert.ok(error instanceof HelperStartError);
        assert.equal(error.code, 'capture_start_failed');
        assert.equal(error.exit?.code, 3);
        const reported = error.events.find((event) => event.type === 'error');
        assert.ok(reported && reported.type === 'error' && reported.message !== '');
        assert.equal(error.message, reported.message);
        assert.equal(error.events.some((event) => event.type === 'ready'), false);
        return true;
      });
    } finally {
      await server.stop();
    }
  });

  it('watches a recorder appear and go away', { skip }, async () => {
    // A server of its own with an input source, so that a recorder records an input (a
    // recorder of a sink's monitor captures output and does not count).
    const server = await startPrivateServer(['module-null-source source_name=test_input']);
    try {
      const watcher = await watchInputProcesses({ env: server.env });
      const changes = watcher.changes();
      const nextList = async (): Promise<InputProcess[]> => {
        const next = await changes.next();
        assert.equal(next.done, false, 'the watcher ended');
        return next.value as InputProcess[];
      };
      try {
        assert.deepEqual(await nextList(), []);
        const recorder = spawn('parec', ['-d', 'test_input'], { env: server.env, stdio: 'ignore' });
        const recording = await nextList();
        assert.deepEqual(
          recording.map((entry) => entry.pid),
          [recorder.pid],
        );
        assert.equal(recording[0]?.bundleId, 'parec');
        recorder.kill();
        assert.deepEqual(await nextList(), []);
      } finally {
        await watcher.stop();
      }
    } finally {
      await server.stop();
    }
  });
});
