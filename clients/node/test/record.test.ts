import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, describe, it } from 'node:test';
import { formatElapsed, meterBar, toDbfs, LevelMeter } from '../src/level.js';
import { parseRecordArgs, UsageError, type RecordOptions } from '../src/record.js';
import { fakeEnv, fakeHelperPath } from './support/fake.js';
import { sampleAt } from './support/known_stream.js';
import { readWav, soxInfo, wellFormed16kMono } from './support/wav.js';

const recorderPath = fileURLToPath(new URL('../src/record_cli.js', import.meta.url));
const scratch = mkdtempSync(join(tmpdir(), 'record-test-'));
after(() => rmSync(scratch, { recursive: true, force: true }));

interface Run {
  status: number | null;
  stderr: string;
}

/**
 * Runs the recorder in a process group of its own, with the fake helper as its helper.
 * `whenRecording` is called once the first progress line shows that audio is flowing.
 */
function runRecorder(args: string[], settings: Record<string, string>, whenRecording?: (pid: number) => void): Promise<Run> {
  const child = spawn(process.execPath, [recorderPath, ...args], {
    env: fakeEnv({ TALVORIN_HELPER_PATH: fakeHelperPath, ...settings }),
    stdio: ['ignore', 'ignore', 'pipe'],
    detached: true,
  });
  let stderr = '';
  let signalled = false;
  child.stderr.setEncoding('utf8');
  child.stderr.on('data', (text: string) => {
    stderr += text;
    if (whenRecording && !signalled && /^recording 0:0[1-9]/m.test(stderr)) {
      signalled = true;
      whenRecording(child.pid as number);
    }
  });
  return new Promise((resolve) => child.on('close', (status) => resolve({ status, stderr })));
}

function expectKnownPrefix(samples: Int16Array): void {
  for (let k = 0; k < samples.length; k++) {
    if (samples[k] !== sampleAt(k)) assert.fail(`sample ${k} is ${samples[k]}, want ${sampleAt(k)}`);
  }
}

describe('parseRecordArgs', () => {
  const good: { args: string[]; want: RecordOptions }[] = [
    { args: ['out.wav'], want: { output: 'out.wav', pids: [] } },
    { args: ['--seconds', '2.5', 'a.wav'], want: { output: 'a.wav', seconds: 2.5, pids: [] } },
    { args: ['a.wav', '--pid', '12', '--pid', '34,56'], want: { output: 'a.wav', pids: [12, 34, 56] } },
    { args: ['a.wav', '--helper', '/opt/h'], want: { output: 'a.wav', pids: [], helperPath: '/opt/h' } },
  ];
  for (const { args, want } of good) {
    it(`reads ${args.join(' ')}`, () => assert.deepEqual(parseRecordArgs(args), want));
  }

  const bad: { args: string[]; message: RegExp }[] = [
    { args: [], message: /name the WAV file/ },
    { args: ['a.wav', 'b.wav'], message: /exactly one/ },
    { args: ['a.wav', '--seconds', '0'], message: /positive number/ },
    { args: ['a.wav', '--seconds', 'ten'], message: /positive number/ },
    { args: ['a.wav', '--pid', '0'], message: /process IDs, not "0"/ },
    { args: ['a.wav', '--pid', '12x'], message: /process IDs, not "12x"/ },
    { args: ['a.wav', '--pid=-3'], message: /process IDs, not "-3"/ },
    { args: ['a.wav', '--loud'], message: /Unknown option/ },
  ];
  for (const { args, message } of bad) {
    it(`refuses ${args.join(' ') || 'no arguments'}`, () => {
      assert.throws(() => parseRecordArgs(args), (error: unknown) => error instanceof UsageError && message.test(error.message));
    });
  }

  it('answers --help', () => assert.equal(parseRecordArgs(['--help']), 'help'));
});

describe('level display', () => {
  it('measures RMS and peak over everything added since the last reset', () => {
    const meter = new LevelMeter();
    meter.add(Int16Array.from([16384, -16384]));
    meter.add(Int16Array.from([0, -32768]));
    assert.equal(meter.peak, 1);
    assert.equal(meter.rms, Math.sqrt((0.25 + 0.25 + 0 + 1) / 4));
    meter.reset();
    assert.deepEqual([meter.rms, meter.peak], [0, 0]);
  });

  const cases: [number, number, string][] = [
    [1, 0, '##########'],
    [0.5, -6.0206, '#########-'],
    [0.001, -60, '----------'],
    [0, -96, '----------'],
  ];
  for (const [level, dbfs, bar] of cases) {
    it(`shows level ${level} as ${dbfs} dBFS`, () => {
      assert.ok(Math.abs(toDbfs(level) - dbfs) < 1e-3);
      assert.equal(meterBar(toDbfs(level), 10), bar);
    });
  }

  for (const [seconds, text] of [[0, '0:00.0'], [9.99, '0:09.9'], [61.25, '1:01.2'], [600, '10:00.0']] as const) {
    it(`writes ${seconds} s as ${text}`, () => assert.equal(formatElapsed(seconds), text));
  }
});

describe('talvorin-record against the fake helper', () => {
  it('stops after --seconds of audio with exactly that many samples', async () => {
    const out = join(scratch, 'seconds.wav');
    const run = await runRecorder([out, '--seconds', '0.5'], { FAKE_SCENARIO: 'stream' });
    assert.equal(run.status, 0, run.stderr);
    const wav = readWav(out);
    assert.ok(wellFormed16kMono(wav), JSON.stringify({ ...wav, samples: undefined }));
    assert.equal(wav.samples.length, 8000);
    expectKnownPrefix(wav.samples);
    assert.match(run.stderr, /saved .*seconds\.wav: 0:00\.5 of 16000 Hz mono 16-bit audio \(16000 bytes\)/);
  });

  it('finishes a clean file on Ctrl-C, which reaches the helper too', async () => {
    const out = join(scratch, 'interrupted.wav');
    const run = await runRecorder([out], { FAKE_SCENARIO: 'stream' }, (pid) => process.kill(-pid, 'SIGINT'));
    assert.equal(run.status, 0, run.stderr);
    const wav = readWav(out);
    assert.ok(wellFormed16kMono(wav), JSON.stringify({ ...wav, samples: undefined }));
    assert.ok(wav.samples.length >= 16000, `only ${wav.samples.length} samples`);
    expectKnownPrefix(wav.samples);
    const info = soxInfo(out);
    if (info) assert.match(info['Duration'] ?? '', new RegExp(`= ${wav.samples.length} samples`));
  });

  it('finishes a clean file when only the recorder is told to end', async () => {
    const out = join(scratch, 'terminated.wav');
    const run = await runRecorder([out], { FAKE_SCENARIO: 'stream' }, (pid) => process.kill(pid, 'SIGTERM'));
    assert.equal(run.status, 0, run.stderr);
    const wav = readWav(out);
    assert.ok(wellFormed16kMono(wav));
    expectKnownPrefix(wav.samples);
  });

  it('reports a failed start with the helper message and leaves no file', async () => {
    const out = join(scratch, 'failed.wav');
    const run = await runRecorder([out], { FAKE_SCENARIO: 'start-failed', FAKE_MESSAGE: 'The default macOS output device has no UID.' });
    assert.equal(run.status, 1);
    assert.match(run.stderr, /the capture did not start: The default macOS output device has no UID\.\n/);
    assert.equal(existsSync(out), false);
  });

  it('exits with status 2 and the usage on bad arguments', async () => {
    const run = await runRecorder(['--seconds', '-1', join(scratch, 'x.wav')], {});
    assert.equal(run.status, 2);
    assert.match(run.stderr, /usage: talvorin-record OUT\.wav/);
  });
});
